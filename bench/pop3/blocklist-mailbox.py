#!/usr/bin/env python3
"""Writes a Maildir of generated messages with realistic Received chains for the block-list receive
benchmark, the same for the same seed, and the relays that the benchmark's zones list.

    blocklist-mailbox.py [--listings FILE] [--seed S] MAILDIR COUNT

Every message passes 2 to 5 relays, each named once in a Received line the way an MTA writes it
(folded, the sending host's address in brackets on the first physical line):

  - the provider's side: one of its three inbound MX hosts in every message, and in 60 % of them
    one of its two filter hosts after it;
  - the sender's side: one or two outbound relays of the sending organisation and, in 40 % of the
    messages, the submitting client's address before them.

The organisations (90, each with its own /24 of public-looking addresses) are drawn with a skewed
popularity, as a mailbox gets most mail from a few senders, so the mailbox holds a few hundred
distinct relays. Every organisation has one to three outbound relays, a submission host is not
named (its address is the relay's), and a pool of one to three client addresses.

FILE receives one line "ADDRESS ZONE" per listing (ZONE 1, 2 or 3, the benchmark's zones in
order): the outbound relays of spam-sending organisations (12 %) in zone 1 (90 %), zone 2 (50 %)
and zone 3 (70 %), and client addresses in zone 3 (all of the spam senders' and a fifth of the
others', as a list of end-user ranges does). The provider's relays are never listed.

Only the standard library is used; every random choice comes from one random.Random(seed).
"""

import argparse
import os
import random
import sys

WORDS = ["amber", "birch", "cobalt", "delta", "ember", "fjord", "granite", "harbor", "iris", "juniper",
         "kestrel", "lumen", "meadow", "nimbus", "orchid", "pioneer", "quartz", "ridge", "summit", "tundra",
         "umber", "vertex", "willow", "xenon", "yarrow", "zephyr"]
SUBJECTS = ["Your invoice", "Weekly newsletter", "Meeting notes", "Order confirmation", "Security notice",
            "Special offer", "Re: project status", "Shipping update", "Account statement", "Invitation"]
DAYS = ["Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"]
PROVIDER = "mail.tarnwick-provider.example"
RECIPIENT = "bench@tarnwick-provider.example"
ORGANISATIONS = 90


def public_network(rng, taken):
    """A /24 that looks like a public allocation: no private, shared, loopback, link-local,
    documentation, multicast or reserved range."""
    excluded_first = {0, 10, 100, 127, 169, 172, 192, 198, 203}
    while True:
        first = rng.randint(2, 223)
        if first in excluded_first:
            continue
        network = (first, rng.randint(0, 255), rng.randint(0, 255))
        if network not in taken:
            taken.add(network)
            return network


def address(network, host):
    return "%d.%d.%d.%d" % (network + (host,))


def hosts(rng, network, count):
    return [address(network, host) for host in rng.sample(range(2, 254), count)]


def queue_id(rng):
    return "".join(rng.choice("0123456789ABCDEF") for _ in range(10))


def received(helo, rdns, ip, by, software, proto, qid, date):
    # Folded as MTAs write it: only the first physical line names the sending host.
    return ("Received: from %s (%s [%s])\r\n\tby %s (%s) with %s id %s\r\n\tfor <%s>; %s"
            % (helo, rdns, ip, by, software, proto, qid, RECIPIENT, date))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("maildir")
    parser.add_argument("count", type=int)
    parser.add_argument("--listings", help="file for the listed relays, one 'ADDRESS ZONE' a line")
    parser.add_argument("--seed", type=int, default=20261211)
    args = parser.parse_args()
    if args.count < 1:
        sys.exit("blocklist-mailbox.py: COUNT must be at least 1, not %d" % args.count)
    rng = random.Random(args.seed)

    taken = set()
    provider_net = public_network(rng, taken)
    provider_hosts = hosts(rng, provider_net, 5)
    mx = [("mx%d.%s" % (i + 1, PROVIDER), ip) for i, ip in enumerate(provider_hosts[:3])]
    filters = [("filter%d.%s" % (i + 1, PROVIDER), ip) for i, ip in enumerate(provider_hosts[3:])]

    organisations = []
    listings = []
    for index in range(ORGANISATIONS):
        domain = "%s-%s%d.example" % (rng.choice(WORDS), rng.choice(WORDS), index)
        network = public_network(rng, taken)
        relay_count = rng.randint(1, 3)
        addresses = hosts(rng, network, relay_count + rng.randint(1, 3))
        relays = [("out%d.%s" % (i + 1, domain), ip) for i, ip in enumerate(addresses[:relay_count])]
        clients = addresses[relay_count:]
        spam = rng.random() < 0.12
        if spam:
            for _, ip in relays:
                for zone, share in ((1, 0.9), (2, 0.5), (3, 0.7)):
                    if rng.random() < share:
                        listings.append((ip, zone))
        for ip in clients:
            if spam or rng.random() < 0.2:
                listings.append((ip, 3))
        organisations.append({"domain": domain, "relays": relays, "clients": clients})
    # Mail comes mostly from a few senders: the k-th organisation is drawn with weight 1 / k.
    weights = [1.0 / (k + 1) for k in range(ORGANISATIONS)]

    for sub in ("cur", "new", "tmp"):
        os.makedirs(os.path.join(args.maildir, sub), exist_ok=True)
    relays_seen = set()
    for n in range(1, args.count + 1):
        org = rng.choices(organisations, weights)[0]
        minute = n * 7
        date = "%s, %d Dec 2026 %02d:%02d:%02d +0000" % (DAYS[(minute // 1440 + 1) % 7], 1 + (minute // 1440) % 28,
                                                        (minute // 60) % 24, minute % 60, n % 60)
        # The hops from the sender's client to the provider's store, each a (name, address) that
        # hands the message on.
        hops = []
        if rng.random() < 0.4:
            client = rng.choice(org["clients"])
            hops.append(("[%s]" % client, "client-%s.dyn.%s" % (client.split(".")[3], org["domain"]), client))
        out = rng.sample(org["relays"], rng.randint(1, min(2, len(org["relays"]))))
        hops += [(name, name, ip) for name, ip in out]
        entry = rng.choice(mx)
        hops.append((entry[0], entry[0], entry[1]))
        if rng.random() < 0.6:
            hop = rng.choice(filters)
            hops.append((hop[0], hop[0], hop[1]))
        receivers = [h[1] for h in hops[1:]] + ["store.%s" % PROVIDER]
        lines = ["Return-Path: <news@%s>" % org["domain"], "Delivered-To: %s" % RECIPIENT]
        for (helo, rdns, ip), by in reversed(list(zip(hops, receivers))):
            software = "Dovecot" if by.startswith("store.") else "Postfix"
            proto = "LMTP" if software == "Dovecot" else "ESMTPS"
            lines.append(received(helo, rdns, ip, by, software, proto, queue_id(rng), date))
            relays_seen.add(ip)
        lines += ["Message-ID: <bench.%d@%s>" % (n, org["domain"]),
                  "From: %s News <news@%s>" % (org["domain"].split(".")[0].title(), org["domain"]),
                  "To: %s" % RECIPIENT,
                  "Subject: %s %d" % (rng.choice(SUBJECTS), n),
                  "Date: %s" % date,
                  "MIME-Version: 1.0",
                  "Content-Type: text/plain; charset=utf-8"]
        message = "\r\n".join(lines) + "\r\n\r\nHello,\r\nthis is message %d.\r\n" % n
        with open(os.path.join(args.maildir, "new", "%07d.M%d.bench" % (n, n)), "wb") as f:
            f.write(message.encode("ascii"))

    if args.listings:
        with open(args.listings, "w") as f:
            for ip, zone in sorted(set(listings), key=lambda e: (e[1], tuple(map(int, e[0].split("."))))):
                f.write("%s %d\n" % (ip, zone))
    listed_seen = len({ip for ip, _ in listings} & relays_seen)
    print("== generated %d messages: %d distinct relays, %d of them listed in some zone"
          % (args.count, len(relays_seen), listed_seen))


if __name__ == "__main__":
    main()
