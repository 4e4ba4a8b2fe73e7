#pragma once

#include <string>
#include <vector>

namespace tarnwick::test {

// The private Cyrus pop3d that tests/integration/cyrus/start-cyrus runs for the integration tests
// (a CTest fixture). It allows one login a minute per user, so every case needs a user of its own
// that no other case (nor an earlier run of the same case) has logged in as.
class TCyrus
{
public:
    // Reads the state file that start-cyrus wrote; throws when the server is not running.
    explicit TCyrus(const std::string& stateFile);

    int Pop3Port() const { return Pop3Port_; }

    // Adds a user whose INBOX holds the given messages (their bytes, lines ending in CRLF) in this
    // order, delivered through Cyrus's LMTP socket, and has Cyrus write down each POP3 session of
    // the user (see Logins and Transcript). Any password logs the user in. `name` must be in lower
    // case and new to the server: throws when the user exists or a delivery is refused.
    void CreateUser(const std::string& name, const std::vector<std::string>& messages) const;
    // The POP3 logins of the user that succeeded, from Cyrus's own record of its sessions.
    int Logins(const std::string& name) const;
    // What those sessions said and heard, as Cyrus wrote it down.
    std::string Transcript(const std::string& name) const;
    // The messages that the user's INBOX holds (by its index), as their bytes, in the order of delivery.
    std::vector<std::string> MailboxMessages(const std::string& name) const;

private:
    std::string Dir_;
    std::string LmtpSocket_;
    std::string Config_;
    std::string Bin_;
    std::string Libs_;
    std::string Log_;
    int Pop3Port_ = 0;
    unsigned RunUid_ = 0;
    unsigned RunGid_ = 0;
};

} // namespace tarnwick::test
