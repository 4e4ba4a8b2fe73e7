#pragma once

#include <array>
#include <string_view>

// Texts that several windows and operations show unchanged. "\r\n" is a carriage return followed
// by a line feed. Spelling is kept as users of earlier versions know it.
namespace tarnwick::core::texts {

inline constexpr std::string_view KnownSpamDatabases = "Known Spam Databases";
// Receiving window: the overall status line, followed by the host in single quotes.
inline constexpr std::string_view CheckingForNewMessages = "Checking for new messages on ";
inline constexpr std::string_view ReceivedMessagesOf = " received message(s) of ";
inline constexpr std::string_view DownloadSpeed = "Download speed: ";
inline constexpr std::string_view ReceivingMessagesFor = "Receiving messages for '";
inline constexpr std::string_view ImportingAddressesFrom = " Importing addresses from : ";
inline constexpr std::string_view Imported = " Imported ";
// Receiving window: the caption of the task row; the same words as the status line, kept apart.
inline constexpr std::string_view TaskCheckingForNewMessages = "Checking for new messages on ";
inline constexpr std::string_view SpamServers = "%s server(s)";
inline constexpr std::string_view Executing = "Executing ...";
inline constexpr std::string_view Interrupted = "Interrupted ...";
inline constexpr std::string_view Disconnected = "Disconnected ...";
inline constexpr std::string_view Finished = "Finished ...";
inline constexpr std::string_view DownloadingMail = "Downloading mail...please wait.";
inline constexpr std::string_view InterruptFilter = "Interrupt this filter to apply another one ?";
inline constexpr std::string_view StopFiltersAndReceive =
    "Do you want to stop applying filters and start a downloading session ?";
inline constexpr std::string_view FullMessageFirst =
    "Full message will be downloaded first. Do you want to continue ?";
inline constexpr std::string_view UnableToSaveAttachment =
    "Unable to save attachment. Please ensure that the location you've choosen to save the attachment is a "
    "valid one !";
inline constexpr std::string_view ContentNeedsFullMessage =
    "You can view the content of this mail only if you choose to download the full message.\r\nIf you "
    "haven't "
    "choosen this option, you can view the content of this mail message after the download process is "
    "complete";
inline constexpr std::string_view ExitWhileReceiving =
    "You are currently receiving mails. Do you want to exit anyway ?";
inline constexpr std::string_view SwitchToNewUser = "Do you want to switch to new added user ?";
inline constexpr std::string_view IncorrectLogin = "Incorect user name or password, please try again !";
inline constexpr std::string_view FailedToConnect = "Failed to connect to remote server!";
inline constexpr std::string_view NotSynchronized =
    "The downloaded messages are no longer synchronized with those on the mail server. Please download your "
    "messages again.";
inline constexpr std::string_view InvalidAttachmentFolder =
    "The folder you want to save your attacments is invalid.\r\nPlease select a valid location.";
inline constexpr std::string_view FilterNeedsFullMessage =
    "You have to download the full message in order to apply this filter.\r\nDo you want to continue anyway "
    "?";

// Names of the download speed levels, by the value of the DownloadSpeed option.
inline constexpr std::array<std::string_view, 5> SpeedNames{"Normal speed", "Faster speed",
                                                            "Accelerated speed", "Super accelerated speed",
                                                            "Extrem accelerated speed"};

} // namespace tarnwick::core::texts
