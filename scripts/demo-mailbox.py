#!/usr/bin/env python3
"""Writes a Maildir of realistic messages for scripts/demo, the same for the same seed.

    scripts/demo-mailbox.py OUT [--messages N] [--seed S] [--date YYYY-MM-DD]

OUT receives:
  Maildir/cur/...        the messages (CR LF lines), file names in delivery order, so that the
                         POP3 server numbers them in that order
  manifest.tsv           one line per message in that order: file name, reason, views, subject
                         (reason: white, black, blocklisted, implausible or unknown; views: a
                         comma-separated list of duplicates, attachments, high, low, foreign,
                         delivery, large, or "-")
  whitelist.txt          sender addresses for the white list, one per line
  blacklist.txt          sender addresses for the black list
  listed-relays.txt      relay addresses that the demo block list publishes
  Characters.dat         the foreign-character set (UTF-8, CR LF), Cyrillic, Greek and the Chinese
                         characters used here

Mail from white-listed senders is good; from black-listed senders or through a listed relay it is
spam (or trash, depending on the options); a sender address that is empty or starts or ends with
"@" fails the plausibility test and counts like a listed one; everything else comes from an
unknown sender and is questionable with the default options. The views are tagged the way the
program decides them with its default settings: same subject (duplicates), a multipart/mixed
header (attachments), X-Priority 1 (high) or 5 (low), four characters of the set in the subject
(foreign), a sender name with "mailer-daemon" or "mail delivery" and a subject with "mail
delivery", "failed delivery" or "undeliverable" (delivery), more than 20 KB (large).

Only the standard library is used; every random choice comes from one random.Random(seed).
"""

import argparse
import base64
import datetime
import os
import random
import shutil
import struct
import sys
import zlib

DOMAIN = "tarnwick-demo.test"
RECIPIENT = "demo@" + DOMAIN
OUR_MX = "mx." + DOMAIN

WHITE_SENDERS = [
    ("Anna Berg", "anna.berg@familie-berg.example"),
    ("Tom Okafor", "tom.okafor@northwind-labs.example"),
    ("Marta Kowalska", "marta@kowalska.example"),
    ("Kenji Watanabe", "kenji.watanabe@northwind-labs.example"),
    ("Dr. Lucia Ferreira", "l.ferreira@clinic-rio.example"),
    ("Book Club", "bookclub@lists.readers.example"),
]
BLACK_SENDERS = [
    ("MegaStore Deals", "deals@megastore-promo.example"),
    ("Royal Casino", "vip@royal-casino-bonus.example"),
    ("Crypto Gains Team", "info@crypto-gains.example"),
    ("Pharmacy Direct", "orders@cheap-pharma.example"),
]
UNKNOWN_SENDERS = [
    ("GitLab", "gitlab@code.northwind-labs.example"),
    ("City Library", "noreply@library.example"),
    ("Parcel Service", "tracking@parcel-service.example"),
    ("Hannah Schulz", "hannah.schulz@webmail.example"),
    ("Omar Haddad", "omar.haddad@example.net"),
    ("Linux Weekly", "newsletter@linux-weekly.example"),
    ("Train Tickets", "tickets@rail.example"),
    ("Electricity Co.", "billing@power-utility.example"),
    ("Priya Nair", "priya.nair@example.com"),
    ("Conference Office", "office@devconf.example"),
    ("Hotel Alpenblick", "reservations@alpenblick.example"),
    ("", "jobs@careers-portal.example"),
    ("Bank Notices", "notices@friendly-bank.example"),
    ("Open Source Digest", "digest@oss-digest.example"),
]
SPAM_SENDERS = [
    ("Winner Notification", "claims@lottery-intl.example"),
    ("Best Watches", "sales@replica-watch.example"),
    ("Dating Online", "match@lonely-hearts.example"),
    ("Account Security", "security@paypa1-alerts.example"),
    ("Investment Advisor", "advisor@quick-profit.example"),
    ("SEO Experts", "rank@seo-first-page.example"),
    ("Loan Approval", "approve@fast-loans.example"),
    ("Prize Desk", "desk@prize-centre.example"),
]
# From values that fail the sender plausibility test: no address, or "@" at either end.
IMPLAUSIBLE_FROMS = [
    "Lucky Winner",
    "undisclosed-sender:;",
    "Special Offer <offers@>",
    "<@bulk-mailer.example>",
    "Important Notice",
]

# Relays: the sender side of the Received lines. Listed relays are published by the demo's block
# list; the clean ones are not. Host names carry at most one digit, so that no run of digits in a
# name can read as an address.
LISTED_RELAYS = ["203.0.113.%d" % n for n in (7, 19, 23, 42, 66, 77, 101, 150, 199, 231)]
CLEAN_RELAYS = ["198.51.100.%d" % n for n in (5, 12, 25, 33, 48, 80, 120, 201)] + \
               ["192.0.2.%d" % n for n in (10, 20, 30, 44, 55)]
CLIENT_ADDRESSES = ["192.168.1.%d" % n for n in (10, 23, 57, 101)] + ["10.0.0.%d" % n for n in (5, 17)]
RELAY_NAMES_CLEAN = ["smtp.webmail.example", "mail.northwind-labs.example", "out.mailer.example",
                     "relay.provider.example", "mx.lists.example"]
RELAY_NAMES_SPAM = ["mail.bulk-sender.example", "smtp.dsl-pool.example", "unknown", "ppp.cable.example",
                    "vps.cloud-host.example"]

FIRST_NAMES = ["Lena", "Jonas", "Sofia", "Mateo", "Aisha", "Noah", "Yuki", "Elif", "Pavel", "Grace"]
TOPICS = ["budget", "roadmap", "release notes", "team lunch", "holiday plans", "quarterly report",
          "server migration", "design review", "birthday party", "garden", "photos", "reading list",
          "workshop", "invoice", "contract draft", "trip to Lisbon", "piano lessons", "flat viewing"]
WHITE_SUBJECTS = ["Re: {topic}", "About the {topic}", "{topic} - next steps", "Fwd: {topic}",
                  "Quick question about the {topic}", "Notes from {day}", "{name} says hello",
                  "Minutes: {topic} meeting", "Can we talk about the {topic}?"]
UNKNOWN_SUBJECTS = ["Your order #{num} has shipped", "Issue #{num}: build fails on {topic}",
                    "Reminder: library books due {day}", "Invoice {num} for November",
                    "Weekly digest: {topic}", "Your ticket {num} for {day}",
                    "Reservation confirmed: booking {num}", "New job offers matching \"{topic}\"",
                    "Talk accepted: {topic}", "Statement {num} is ready",
                    "{name} commented on merge request !{num}", "Webinar on {topic} this {day}"]
SPAM_SUBJECTS = ["You have WON ${num},000 !!!", "Cheap meds without prescription #{num}",
                 "Re: your account has been suspended ({num})", "Hot singles near you - {name} waits",
                 "Replica watches {num}% off", "URGENT: verify your password ({num})",
                 "Make ${num} a day from home", "Get to page 1 of Google in {num} days",
                 "Loan pre-approved: ${num},000", "Final notice: unclaimed parcel {num}"]
BLACK_SUBJECTS = ["Black Friday: {num}% off everything", "Your VIP bonus of {num} free spins",
                  "Bitcoin up {num}% - don't miss out", "Order now: {num} pills for the price of 10",
                  "Last chance: deal #{num}"]
DAYS = ["Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday", "Sunday"]

# Foreign texts: (text, charset, encoding letter) for subjects and names, in several charsets.
FOREIGN_SUBJECTS = [  # (text, charset, encoding letter, spam?)
    ("Отчёт за ноябрь", "utf-8", "B", False),
    ("Приглашение на конференцию", "koi8-r", "B", False),
    ("Скидки до 70% только сегодня", "windows-1251", "Q", True),
    ("Встреча в пятницу", "utf-8", "Q", False),
    ("会议通知：下周一上午十点", "gb2312", "B", False),
    ("您的订单已发货", "utf-8", "B", False),
    ("年終優惠活動開始了", "big5", "B", True),
    ("Καλημέρα από την Αθήνα", "iso-8859-7", "Q", False),
    ("Πρόσκληση σε δείπνο", "utf-8", "B", False),
    ("Νέα προσφορά για εσάς", "windows-1253", "Q", True),
]
FOREIGN_SENDERS = [
    ("Иван Петров", "ivan.petrov@mail-ru.example", "utf-8"),
    ("李伟", "li.wei@company-cn.example", "gb2312"),
    ("Γιώργος Παπαδόπουλος", "giorgos@athens-mail.example", "iso-8859-7"),
]


def character_set():
    """The foreign-character set: Cyrillic, Greek and every Chinese character used above."""
    chars = [chr(c) for c in range(0x410, 0x450)] + ["Ё", "ё"]
    chars += [chr(c) for c in range(0x391, 0x3AA) if c != 0x3A2]
    chars += [chr(c) for c in range(0x3AC, 0x3CF)]
    chars += ["Ά", "Έ", "Ή", "Ί", "Ό", "Ύ", "Ώ"]
    for text, _, _, _ in FOREIGN_SUBJECTS:
        chars += [c for c in text if 0x4E00 <= ord(c) <= 0x9FFF]
    for name, _, _ in FOREIGN_SENDERS:
        chars += [c for c in name if 0x4E00 <= ord(c) <= 0x9FFF]
    seen, result = set(), []
    for c in chars:
        if c not in seen:
            seen.add(c)
            result.append(c)
    return result


CHARACTERS = set(character_set())


def foreign_count(text):
    return sum(1 for c in text if c in CHARACTERS or c.lower() in CHARACTERS or c.upper() in CHARACTERS)


def encoded_words(text, charset, letter):
    """RFC 2047 encoded-words of at most 75 characters, split between characters, joined by a
    folding CR LF + blank."""
    prefix = "=?%s?%s?" % (charset, letter)
    words, current = [], b""

    def encode(raw):
        if letter == "B":
            return base64.b64encode(raw).decode("ascii")
        out = []
        for byte in raw:
            ch = chr(byte)
            if ch == " ":
                out.append("_")
            elif ch.isalnum() and byte < 128:
                out.append(ch)
            else:
                out.append("=%02X" % byte)
        return "".join(out)

    for ch in text:
        raw = ch.encode(charset)
        if len(prefix) + len(encode(current + raw)) + 2 > 75 and current:
            words.append(prefix + encode(current) + "?=")
            current = b""
        current += raw
    if current:
        words.append(prefix + encode(current) + "?=")
    return "\r\n ".join(words)


def fold(name, value):
    """One header field; long plain values are folded at blanks to lines of at most 78."""
    line = "%s: %s" % (name, value)
    if len(line) <= 78 or "\r\n" in value:
        return line
    out, current = [], ""
    for word in line.split(" "):
        if current and len(current) + 1 + len(word) > 78:
            out.append(current)
            current = " " + word
        else:
            current = current + " " + word if current else word
    out.append(current)
    return "\r\n".join(out)


def mail_date(when, zone_minutes):
    local = when + datetime.timedelta(minutes=zone_minutes)
    sign = "+" if zone_minutes >= 0 else "-"
    zone = "%s%02d%02d" % (sign, abs(zone_minutes) // 60, abs(zone_minutes) % 60)
    return local.strftime("%a, %d %b %Y %H:%M:%S ") + zone


def png(width, height, rng, noisy):
    """A real PNG: an RGB gradient, or noise (which does not compress)."""
    rows = bytearray()
    for y in range(height):
        rows.append(0)
        for x in range(width):
            if noisy:
                rows += bytes(rng.getrandbits(8) for _ in range(3))
            else:
                rows += bytes(((x * 255) // max(1, width - 1), (y * 255) // max(1, height - 1), 160))

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)

    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(bytes(rows), 9)) + chunk(b"IEND", b""))


def small_pdf(title):
    text = "BT /F1 18 Tf 40 100 Td (%s) Tj ET" % title.replace("(", "").replace(")", "")
    objects = [
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 300 200] /Contents 4 0 R "
        "/Resources << /Font << /F1 5 0 R >> >> >>",
        "<< /Length %d >>\nstream\n%s\nendstream" % (len(text), text),
        "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>",
    ]
    out, offsets = "%PDF-1.4\n", []
    for n, body in enumerate(objects, 1):
        offsets.append(len(out))
        out += "%d 0 obj\n%s\nendobj\n" % (n, body)
    xref = len(out)
    out += "xref\n0 %d\n0000000000 65535 f \n" % (len(objects) + 1)
    out += "".join("%010d 00000 n \n" % o for o in offsets)
    out += "trailer\n<< /Size %d /Root 1 0 R >>\nstartxref\n%d\n%%%%EOF\n" % (len(objects) + 1, xref)
    return out.encode("ascii")


def b64_lines(data):
    text = base64.b64encode(data).decode("ascii")
    return "\r\n".join(text[i:i + 76] for i in range(0, len(text), 76))


def qp_lines(text):
    import quopri
    return quopri.encodestring(text.encode("utf-8")).decode("ascii").replace("\r\n", "\n").replace("\n", "\r\n")


class Message:
    def __init__(self, reason):
        self.reason = reason
        self.views = set()
        self.sender = None          # (name, address) or None with from_value
        self.from_value = None      # a raw From value (implausible senders)
        self.subject = ""           # the decoded subject
        self.subject_field = None   # the encoded field value, when not plain ASCII
        self.relays = []            # relay addresses, first = the one our MX received from
        self.priority = None        # "high" or "low"
        self.attachments = []       # (file name, content type, bytes)
        self.body = ""
        self.html = False
        self.bounce_of = None       # the failed message's subject for delivery reports
        self.large = False
        self.message_id = None
        self.duplicate_of = None    # the original of a copy


class Generator:
    def __init__(self, count, seed, today):
        self.rng = random.Random(seed)
        self.count = count
        self.today = today
        self.subjects = set()
        self.ids = 0

    def fill(self, template):
        rng = self.rng
        text = template.format(topic=rng.choice(TOPICS), day=rng.choice(DAYS), name=rng.choice(FIRST_NAMES),
                               num=rng.randint(10, 999))
        return text[0].upper() + text[1:]

    def unique_subject(self, templates):
        for _ in range(50):
            subject = self.fill(self.rng.choice(templates))
            if subject not in self.subjects:
                break
        else:
            subject = "%s (ref %d)" % (subject, len(self.subjects))
        self.subjects.add(subject)
        return subject

    def message_id(self, address):
        self.ids += 1
        host = address.split("@")[-1] if "@" in address and not address.endswith("@") else "localhost"
        return "<%08x.%d@%s>" % (self.rng.getrandbits(32), self.ids, host or "localhost")

    def body_text(self, who):
        rng = self.rng
        lines = ["Hello,", "",
                 "%s about the %s: %s." % (rng.choice(["A short note", "Some news", "As promised, details"]),
                                           rng.choice(TOPICS),
                                           rng.choice(["everything is on track", "see the attached file",
                                                       "let me know what you think", "nothing urgent"])),
                 "", "Best regards,", who or "The team"]
        return "\r\n".join(lines)

    def plan(self):
        """Decides the messages: how many of each kind, then their order."""
        n = self.count
        rng = self.rng
        shares = {"white": 0.12, "black": 0.08, "blocklisted": 0.28, "implausible": 0.04}
        counts = {k: max(1, int(n * v)) for k, v in shares.items()}
        counts["unknown"] = n - sum(counts.values())
        messages = []

        for _ in range(counts["white"]):
            m = Message("white")
            m.sender = rng.choice(WHITE_SENDERS)
            m.subject = self.unique_subject(WHITE_SUBJECTS)
            # Friends sometimes write through a dial-up relay that is listed: the white list wins.
            m.relays = [rng.choice(LISTED_RELAYS if rng.random() < 0.15 else CLEAN_RELAYS)]
            messages.append(m)
        for _ in range(counts["black"]):
            m = Message("black")
            m.sender = rng.choice(BLACK_SENDERS)
            m.subject = self.unique_subject(BLACK_SUBJECTS)
            m.relays = [rng.choice(CLEAN_RELAYS)]
            m.html = True
            messages.append(m)
        for _ in range(counts["blocklisted"]):
            m = Message("blocklisted")
            m.sender = rng.choice(SPAM_SENDERS)
            m.subject = self.unique_subject(SPAM_SUBJECTS)
            # The listed relay is sometimes one hop further back.
            if rng.random() < 0.3:
                m.relays = [rng.choice(CLEAN_RELAYS), rng.choice(LISTED_RELAYS)]
            else:
                m.relays = [rng.choice(LISTED_RELAYS)]
            m.html = rng.random() < 0.6
            messages.append(m)
        for _ in range(counts["implausible"]):
            m = Message("implausible")
            m.from_value = rng.choice(IMPLAUSIBLE_FROMS)
            m.subject = self.unique_subject(SPAM_SUBJECTS)
            m.relays = [rng.choice(CLEAN_RELAYS)]
            messages.append(m)
        for _ in range(counts["unknown"]):
            m = Message("unknown")
            m.sender = rng.choice(UNKNOWN_SENDERS)
            m.subject = self.unique_subject(UNKNOWN_SUBJECTS)
            m.relays = [rng.choice(CLEAN_RELAYS)]
            m.html = rng.random() < 0.4
            messages.append(m)

        # Features laid over the kinds, each on a share of the messages.
        def pick(kinds, share, least=1):
            pool = [m for m in messages if m.reason in kinds and not m.views & {"delivery", "foreign"}]
            return rng.sample(pool, min(len(pool), max(least, int(n * share))))

        for m in pick(("unknown",), 0.04):
            self.make_bounce(m)
        for m in pick(("white", "unknown", "blocklisted"), 0.05):
            self.make_foreign(m)
        for m in pick(("white", "unknown"), 0.10):
            self.add_attachment(m)
        for m in pick(("white", "unknown", "blocklisted"), 0.06):
            m.priority = "high"
        for m in pick(("unknown", "black"), 0.03):
            m.priority = "low"
        for m in pick(("white", "unknown"), 0.015):
            self.make_large(m)
        for m in pick(("black", "unknown"), 0.01):
            m.large = True  # a huge HTML newsletter without attachments
            m.html = True

        rng.shuffle(messages)
        self.duplicates(messages, max(2, n // 40))
        return messages

    def make_bounce(self, m):
        rng = self.rng
        m.views.add("delivery")
        host = rng.choice(["mail.webmail.example", "mx.example.net", "smtp.provider.example"])
        m.bounce_of = self.unique_subject(WHITE_SUBJECTS)
        first = "Mail delivery failed: returning message to sender"
        if first not in self.subjects:
            m.sender = ("Mail Delivery System", "Mailer-Daemon@" + host)
            m.subject = first
        elif rng.random() < 0.5:
            m.sender = ("Mail Delivery Subsystem", "mailer-daemon@" + host)
            m.subject = rng.choice(["Undeliverable: %s", "Mail delivery failed: %s"]) % m.bounce_of
        else:
            m.sender = ("MAILER-DAEMON", "MAILER-DAEMON@" + host)
            m.subject = 'Warning: failed delivery of "%s"' % m.bounce_of
        self.subjects.add(m.subject)

    def make_foreign(self, m):
        rng = self.rng
        # Each kind of sender takes the fitting texts in turn, so every charset appears.
        fitting = [f for f in FOREIGN_SUBJECTS if f[3] == (m.reason == "blocklisted")]
        self.foreign_turns = getattr(self, "foreign_turns", {})
        turn = self.foreign_turns.get(fitting[0], 0)
        self.foreign_turns[fitting[0]] = turn + 1
        text, charset, letter, _ = fitting[turn % len(fitting)]
        # A text used again makes its messages duplicates, as a repeated campaign would.
        self.subjects.add(text)
        m.subject = text
        m.subject_field = encoded_words(text, charset, letter)
        if m.reason != "white" and rng.random() < 0.5:
            name, address, name_charset = rng.choice(FOREIGN_SENDERS)
            m.sender = (encoded_words(name, name_charset, "B"), address)
        m.views.add("foreign")

    def add_attachment(self, m):
        rng = self.rng
        kind = rng.choice(["pdf", "png", "csv", "ics"])
        if kind == "pdf":
            m.attachments.append(("%s.pdf" % rng.choice(TOPICS).replace(" ", "-"), "application/pdf",
                                  small_pdf(m.subject)))
        elif kind == "png":
            m.attachments.append(("chart.png", "image/png", png(48, 32, rng, False)))
        elif kind == "csv":
            rows = ["date,item,amount"] + ["2026-%02d-%02d,%s,%d.%02d" % (rng.randint(1, 12), rng.randint(1, 28),
                                                                         rng.choice(TOPICS), rng.randint(1, 900),
                                                                         rng.randint(0, 99)) for _ in range(20)]
            m.attachments.append(("figures.csv", "text/csv", "\r\n".join(rows).encode("ascii")))
        else:
            start = self.today + datetime.timedelta(days=rng.randint(1, 30), hours=rng.randint(8, 17))
            ics = ("BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Tarnwick demo//EN\r\nBEGIN:VEVENT\r\n"
                   "UID:%d@%s\r\nDTSTART:%s\r\nSUMMARY:%s\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n" %
                   (rng.getrandbits(32), DOMAIN, start.strftime("%Y%m%dT%H%M%SZ"), m.subject))
            m.attachments.append(("invite.ics", "text/calendar", ics.encode("utf-8")))

    def make_large(self, m):
        rng = self.rng
        side = rng.choice([110, 180, 260, 400])
        m.attachments.append(("photo-%d.png" % rng.randint(100, 999), "image/png", png(side, side, rng, True)))

    def duplicates(self, messages, groups):
        """Copies of some messages, each taking the place of a plain message of the same kind: a
        mailing-list post delivered twice (same Message-ID), a friend's message sent again, a spam
        run of three."""
        rng = self.rng

        def plain(m):
            return not m.views and not m.attachments and not m.large and m.priority is None

        candidates = [m for m in messages if m.reason in ("unknown", "white", "blocklisted") and plain(m)]
        for original in rng.sample(candidates, min(groups, len(candidates))):
            if "duplicates" in original.views or original not in messages:
                continue
            extra = 2 if original.reason == "blocklisted" else 1
            spare = [m for m in messages if m.reason == original.reason and plain(m) and m is not original]
            if len(spare) < extra:
                continue
            original.views.add("duplicates")
            for victim in rng.sample(spare, extra):
                messages.remove(victim)
                self.subjects.discard(victim.subject)
                copy = Message(original.reason)
                copy.views.add("duplicates")
                copy.subject = original.subject
                copy.html = original.html
                copy.duplicate_of = original
                if original.reason == "blocklisted":
                    copy.sender = rng.choice(SPAM_SENDERS)
                    copy.relays = [rng.choice(LISTED_RELAYS)]
                else:
                    copy.sender = original.sender
                    copy.relays = original.relays
                    if original.reason == "unknown":
                        copy.message_id = "same-as-original"
                # Copies arrive a little later than their originals.
                at = messages.index(original) + rng.randint(1, 15)
                messages.insert(min(at, len(messages)), copy)

    def render(self, m, when, number):
        rng = self.rng
        crlf = "\r\n"
        head = []
        address = m.sender[1] if m.sender else ""
        if m.message_id is None:
            m.message_id = self.message_id(address or "bulk@localhost")
        elif m.message_id == "same-as-original":
            m.message_id = m.duplicate_of.message_id

        # Received lines, newest first: our MX from the first relay, then the relays' own hops.
        hop_time = when + datetime.timedelta(seconds=rng.randint(2, 90))
        relays = list(m.relays)
        names = RELAY_NAMES_SPAM if m.reason in ("blocklisted", "implausible", "black") else RELAY_NAMES_CLEAN
        head.append("Return-Path: <%s>" % (address if "@" in address and not address.endswith("@") else ""))
        head.append("Delivered-To: " + RECIPIENT)
        for i, relay in enumerate(relays):
            name = rng.choice(names)
            by = OUR_MX if i == 0 else rng.choice(RELAY_NAMES_CLEAN)
            head.append("Received: from %s (%s [%s])" % (name, name, relay))
            head.append("\tby %s (Postfix) with ESMTPS id %s" % (by, "".join(rng.choice("BCDFGHJKLMNPQRSTVWXZ")
                                                                            for _ in range(10))))
            head.append("\tfor <%s>; %s" % (RECIPIENT, mail_date(hop_time, 0)))
            hop_time -= datetime.timedelta(seconds=rng.randint(1, 40))
        client = rng.choice(CLIENT_ADDRESSES)
        head.append("Received: from [%s] (helo=localhost)" % client)
        head.append("\tby %s with esmtpsa; %s" % (rng.choice(RELAY_NAMES_CLEAN), mail_date(hop_time, 0)))

        zone = rng.choice([0, 60, 120, -300, -480, 330, 480, 540])
        if m.reason in ("blocklisted", "implausible") and rng.random() < 0.05:
            pass  # some spam comes without a date
        elif m.reason == "blocklisted" and rng.random() < 0.05:
            head.append("Date: " + (when + datetime.timedelta(days=400)).strftime("%a, %d %b %y %H:%M:%S EST"))
        else:
            head.append("Date: " + mail_date(when, zone))

        if m.from_value is not None:
            head.append("From: " + m.from_value)
        elif m.sender[0].startswith("=?"):
            head.append("From: %s <%s>" % (m.sender[0], m.sender[1]))
        elif m.sender[0]:
            name = m.sender[0]
            if any(c in name for c in ".,"):
                name = '"%s"' % name
            head.append("From: %s <%s>" % (name, m.sender[1]))
        else:
            head.append("From: " + m.sender[1])

        if m.reason in ("blocklisted", "implausible") and rng.random() < 0.4:
            head.append("To: undisclosed-recipients:;")
        else:
            head.append("To: Demo User <%s>" % RECIPIENT)
        if m.reason == "white" and rng.random() < 0.3:
            others = rng.sample(WHITE_SENDERS, 2)
            head.append(fold("Cc", ", ".join('"%s" <%s>' % o if "." in o[0] else "%s <%s>" % o for o in others)))
        head.append(fold("Subject", m.subject_field or m.subject))
        head.append("Message-ID: " + m.message_id)
        if m.priority == "high":
            head.append("X-Priority: 1 (Highest)")
            head.append("Importance: High")
        elif m.priority == "low":
            head.append("X-Priority: 5 (Lowest)")
            head.append("Importance: Low")
        head.append("MIME-Version: 1.0")
        if m.reason in ("unknown", "black") and m.bounce_of is None and rng.random() < 0.5:
            head.append("List-Unsubscribe: <mailto:unsubscribe@%s>" % address.split("@")[-1])
        if m.bounce_of is None:
            head.append("X-Mailer: %s" % rng.choice(["Thunderbird 115.5", "Apple Mail (2.3731)", "Outlook 16.0",
                                                      "PHPMailer 6.8", "Roundcube 1.6"]))

        body_text = self.body_text(m.sender[0] if m.sender and not m.sender[0].startswith("=?") else "")
        if m.views & {"foreign"}:
            body_text = m.subject + crlf + crlf + body_text
        boundary = "=_tarnwick_%08x" % rng.getrandbits(32)

        if m.bounce_of is not None:
            head.append('Content-Type: multipart/report; report-type=delivery-status;')
            head.append('\tboundary="%s"' % boundary)
            failed = "someone.%d@%s" % (number, rng.choice(["gone.example", "typo-domain.example"]))
            parts = [
                "Content-Type: text/plain; charset=us-ascii" + crlf + crlf +
                "This message was created automatically by mail delivery software." + crlf + crlf +
                "A message that you sent could not be delivered to one or more of its" + crlf +
                "recipients. This is a permanent error. The following address(es) failed:" + crlf + crlf +
                "  " + failed + crlf + "    host not found" + crlf,
                "Content-Type: message/delivery-status" + crlf + crlf +
                "Reporting-MTA: dns; " + m.sender[1].split("@")[1] + crlf + crlf +
                "Final-Recipient: rfc822;" + failed + crlf + "Action: failed" + crlf + "Status: 5.1.2" + crlf,
                "Content-Type: text/rfc822-headers" + crlf + crlf +
                "From: Demo User <%s>%sTo: %s%sSubject: %s%s" % (RECIPIENT, crlf, failed, crlf, m.bounce_of, crlf),
            ]
            body = "".join("--%s%s%s%s" % (boundary, crlf, p, crlf) for p in parts) + "--%s--%s" % (boundary, crlf)
        else:
            text_part = "Content-Type: text/plain; charset=utf-8" + crlf + \
                        "Content-Transfer-Encoding: quoted-printable" + crlf + crlf + qp_lines(body_text) + crlf
            if m.large and not m.attachments:
                # A newsletter with a lot of markup.
                rows = "".join("<tr><td>Item %d</td><td>%s</td><td>%d.%02d</td></tr>\r\n" %
                               (i, rng.choice(TOPICS), rng.randint(1, 999), rng.randint(0, 99))
                               for i in range(rng.randint(900, 1400)))
                html = "<html><body><h1>%s</h1><table>\r\n%s</table></body></html>" % (m.subject, rows)
            else:
                html = "<html><body><p>%s</p></body></html>" % body_text.replace(crlf, "<br>")
            if m.html or m.large:
                html_part = "Content-Type: text/html; charset=utf-8" + crlf + \
                            "Content-Transfer-Encoding: quoted-printable" + crlf + crlf + qp_lines(html) + crlf
                alternative = "Content-Type: multipart/alternative; boundary=\"%s_alt\"" % boundary + crlf + crlf + \
                    "--%s_alt%s%s--%s_alt%s%s--%s_alt--%s" % (boundary, crlf, text_part, boundary, crlf,
                                                              html_part, boundary, crlf)
            else:
                alternative = None
            if m.attachments:
                head.append('Content-Type: multipart/mixed;')
                head.append('\tboundary="%s"' % boundary)
                parts = [alternative or text_part]
                for name, ctype, data in m.attachments:
                    parts.append('Content-Type: %s; name="%s"%sContent-Disposition: attachment; filename="%s"%s'
                                 'Content-Transfer-Encoding: base64%s%s%s%s' %
                                 (ctype, name, crlf, name, crlf, crlf, crlf, b64_lines(data), crlf))
                body = "This is a multi-part message in MIME format." + crlf + crlf + \
                    "".join("--%s%s%s%s" % (boundary, crlf, p, crlf) for p in parts) + "--%s--%s" % (boundary, crlf)
            elif alternative:
                alt_head, alt_body = alternative.split(crlf + crlf, 1)
                head.append(alt_head)
                body = alt_body
            else:
                head.append("Content-Type: text/plain; charset=utf-8")
                head.append("Content-Transfer-Encoding: quoted-printable")
                body = qp_lines(body_text) + crlf
        return (crlf.join(head) + crlf + crlf + body).encode("ascii")

    def views_of(self, m, data, all_messages):
        views = set(v for v in m.views if v in ("foreign", "delivery"))
        if m.attachments:
            views.add("attachments")
        if m.priority:
            views.add(m.priority)
        if len(data) // 1024 > 20:
            views.add("large")
        if sum(1 for other in all_messages if other.subject == m.subject) >= 2:
            views.add("duplicates")
        if "foreign" in views and foreign_count(m.subject) < 4:
            views.discard("foreign")
        return views


def main():
    parser = argparse.ArgumentParser(description="Writes the demo's Maildir of realistic messages.")
    parser.add_argument("out")
    parser.add_argument("--messages", type=int, default=300)
    parser.add_argument("--seed", type=int, default=9)
    parser.add_argument("--date", help="the day of the newest message (YYYY-MM-DD, default today)")
    args = parser.parse_args()
    if args.messages < 30 or args.messages > 20000:
        parser.error("--messages must be between 30 and 20000")
    if args.date:
        today = datetime.datetime.strptime(args.date, "%Y-%m-%d")
    else:
        today = datetime.datetime.now(datetime.timezone.utc).replace(tzinfo=None)
        today = today.replace(hour=0, minute=0, second=0, microsecond=0)

    generator = Generator(args.messages, args.seed, today)
    messages = generator.plan()

    maildir = os.path.join(args.out, "Maildir")
    if os.path.exists(maildir):
        shutil.rmtree(maildir)
    for sub in ("cur", "new", "tmp"):
        os.makedirs(os.path.join(maildir, sub))

    # Arrival times over the last 60 days, oldest first.
    span = 60 * 24 * 3600
    start = today - datetime.timedelta(days=60)
    offsets = sorted(generator.rng.randint(0, span) for _ in messages)
    manifest = []
    for number, (m, offset) in enumerate(zip(messages, offsets), 1):
        when = start + datetime.timedelta(seconds=offset)
        data = generator.render(m, when, number)
        # The server numbers new messages in the order of the time at the start of the name.
        name = "%d.M%dP1.%s:2," % (1700000000 + number, number, DOMAIN)
        with open(os.path.join(maildir, "cur", name), "wb") as f:
            f.write(data)
        manifest.append((name, m, data))

    with open(os.path.join(args.out, "manifest.tsv"), "w", encoding="utf-8", newline="\n") as f:
        for name, m, data in manifest:
            views = generator.views_of(m, data, messages)
            f.write("%s\t%s\t%s\t%s\n" % (name, m.reason, ",".join(sorted(views)) or "-", m.subject))
    with open(os.path.join(args.out, "whitelist.txt"), "w") as f:
        f.write("".join(a + "\n" for _, a in WHITE_SENDERS))
    with open(os.path.join(args.out, "blacklist.txt"), "w") as f:
        f.write("".join(a + "\n" for _, a in BLACK_SENDERS))
    with open(os.path.join(args.out, "listed-relays.txt"), "w") as f:
        f.write("".join(a + "\n" for a in LISTED_RELAYS))
    with open(os.path.join(args.out, "Characters.dat"), "wb") as f:
        f.write("".join(c + "\r\n" for c in character_set()).encode("utf-8"))
    return 0


if __name__ == "__main__":
    sys.exit(main())
