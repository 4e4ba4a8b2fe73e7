#pragma once

#include <string>
#include <vector>

namespace tarnwick::test {

// The private Dovecot that tests/integration/dovecot/start-dovecot runs for the integration tests
// (a CTest fixture). Tests give each case its own user, so every case starts from a maildrop it
// knows.
class TDovecot
{
public:
    // Reads the state file that start-dovecot wrote; throws when the server is not running.
    explicit TDovecot(const std::string& stateFile);

    int Pop3Port() const { return Pop3Port_; }   // plain POP3 and STLS
    int Pop3sPort() const { return Pop3sPort_; } // POP3 over TLS
    const std::string& CaFile() const { return CaFile_; }

    // Adds a user whose maildrop holds the given messages (their bytes), in this order: message
    // number i + 1 is messages[i]. An existing user of that name is replaced. Dovecot looks names
    // up in lower case, so `name` should be lower case.
    void CreateUser(const std::string& name, const std::string& password,
                    const std::vector<std::string>& messages) const;
    // Delivers one more message into the user's maildrop, as the last one.
    void DeliverMessage(const std::string& name, const std::string& message) const;
    // The files in the user's maildrop (new and cur), sorted by name.
    std::vector<std::string> MaildropFiles(const std::string& name) const;

private:
    std::string Dir_;
    std::string Users_;
    int Pop3Port_ = 0;
    int Pop3sPort_ = 0;
    std::string CaFile_;
    unsigned MailUid_ = 0;
    unsigned MailGid_ = 0;
};

} // namespace tarnwick::test
