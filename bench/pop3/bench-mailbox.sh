# Sourced by the receive benchmarks after the Dovecot state file: gives the user USER with PASSWORD
# a mailbox of MESSAGES generated messages (tests/fixtures/pop3/Plain.eml with its own Message-ID
# each, 235 bytes, 6 header lines).
#
#   bench_mailbox USER PASSWORD MESSAGES STORAGE WORK_DIR [GENERATOR ARGS...]
#
# With a GENERATOR, the messages are its own instead: it is run as `GENERATOR ARGS... MAILDIR
# MESSAGES` and writes MESSAGES messages into the new/ folder of the Maildir MAILDIR.
#
# The messages are written as a Maildir below WORK_DIR (it must be readable by the mail user) and,
# with STORAGE=mdbox, imported with doveadm into Dovecot's own mdbox storage, as a server that keeps
# mail in its native format holds them. STORAGE=maildir serves the Maildir as it is: there Dovecot
# reads the whole message directory again, under its uidlist lock, at the first message read of
# every session.
bench_mailbox() {
    local user=$1 password=$2 messages=$3 storage=$4 work=$5
    shift 5
    local mailhome="$DOVECOT_DIR/home/$user" source="$work/source"
    mkdir -p "$mailhome"
    if [ $# -gt 0 ]; then
        "$@" "$source" "$messages"
    else
        python3 - "$source" "$messages" "$root/tests/fixtures/pop3/Plain.eml" <<'PY'
import os, sys
maildir, count, sample = sys.argv[1], int(sys.argv[2]), open(sys.argv[3], "rb").read()
for sub in ("cur", "new", "tmp"):
    os.makedirs(os.path.join(maildir, sub), exist_ok=True)
head, body = sample.split(b"\r\n\r\n", 1)
for n in range(1, count + 1):
    message = head.replace(b"<plain.1@example.org>", b"<bench.%d@example.org>" % n) + b"\r\n\r\n" + body
    with open(os.path.join(maildir, "new", "%07d.M%d.bench" % (n, n)), "wb") as f:
        f.write(message)
PY
    fi
    case "$storage" in
    maildir)
        mv "$source" "$mailhome/Maildir"
        chown -R "$DOVECOT_MAIL_UID:$DOVECOT_MAIL_GID" "$mailhome"
        echo "$user:{PLAIN}$password:$DOVECOT_MAIL_UID:$DOVECOT_MAIL_GID::$mailhome::" > "$DOVECOT_USERS/$user"
        ;;
    mdbox)
        chmod 755 "$work"
        chown -R "$DOVECOT_MAIL_UID:$DOVECOT_MAIL_GID" "$mailhome" "$source"
        echo "$user:{PLAIN}$password:$DOVECOT_MAIL_UID:$DOVECOT_MAIL_GID::$mailhome::userdb_mail=mdbox:~/mdbox" \
            > "$DOVECOT_USERS/$user"
        doveadm -c "$DOVECOT_DIR/dovecot.conf" import -u "$user" "maildir:$source" "" all
        rm -rf "$source"
        ;;
    *)
        echo "bench_mailbox: unknown storage '$storage' (mdbox or maildir)" >&2
        return 2
        ;;
    esac
    echo "== mailbox: $messages messages in Dovecot's $storage storage"
}
