// vorur-upload URL NAME FILE
// vorur-upload --outbox FOLDER URL
//
// The first form sends FILE to the lesson server's upload script at URL under
// the file name NAME, exactly as the player does at the end of a test run, and
// prints the server's reply. Exit status 0 when the server accepted it (its
// reply holds OK, as the player counts it), 2 when it replied otherwise, 1 when
// the request could not be sent.
//
// The second sends every recording in the player's outbox FOLDER, the refused
// ones too, with the same request, one after another, the least tried and then
// the oldest first; a server that cannot be reached at all ends the run. Only a
// folder the player made as its outbox (it holds the outbox's mark) is used;
// any other is left as it is. Progress goes to stderr, one line per recording
// to stdout. Exit status:
//   0  every recording was accepted (or the outbox was empty)
//   1  wrong arguments, no such folder, not an outbox, or the outbox is in use
//      by a running player
//   2  the server refused some (they stay in FOLDER/refused)
//   3  some could not be sent (they stay in FOLDER)
#include "diagnostics.h"
#include "http_file_up.h"
#include "outbox.h"

#include <cstdio>
#include <cstring>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

namespace {

int Usage(const char* self, FILE* to = stderr) {
    std::fprintf(to,
                 "usage: %s URL NAME FILE\n"
                 "         sends FILE to URL as the upload named NAME and prints the server's reply\n"
                 "       %s --outbox FOLDER URL\n"
                 "         sends every recording in the player's outbox FOLDER to URL\n"
                 "       %s --help (or -h)\n"
                 "         prints this summary\n",
                 self, self, self);
    return 1;
}

// One line per recording; on a terminal a percentage counts up while it goes.
class CProgressPrinter {
public:
    void operator()(const OutboxEvent& event) {
        const OutboxEntry& entry = *event.entry;
        switch (event.kind) {
        case OutboxEvent::Begin:
            m_lastPercent = -1;
            std::fprintf(stderr, "sending %s (%lld bytes)%s", entry.name.c_str(), static_cast<long long>(entry.size),
                         m_tty ? "" : "\n");
            break;
        case OutboxEvent::Progress: {
            const int percent = entry.size > 0 ? static_cast<int>(event.sent * 100 / entry.size) : 100;
            if (m_tty && percent != m_lastPercent)
                std::fprintf(stderr, "\rsending %s: %d%%", entry.name.c_str(), percent);
            m_lastPercent = percent;
            break;
        }
        case OutboxEvent::End:
            if (m_tty && m_lastPercent >= 0)
                std::fputc('\n', stderr);
            m_lastPercent = -1;
            std::printf("%s: %s%s%s\n", entry.name.c_str(), ResultText(event.result), event.detail.empty() ? "" : ": ",
                        OneLine(event.detail).c_str());
            std::fflush(stdout);
            break;
        }
    }

private:
    static const char* ResultText(OutboxResult result) {
        switch (result) {
        case OutboxResult::Delivered: return "accepted";
        case OutboxResult::Refused: return "refused";
        case OutboxResult::Failed: return "not sent";
        case OutboxResult::Skipped: return "skipped";
        }
        return "";
    }
    static std::string OneLine(std::string text) {
        for (char& c : text)
            if (c == '\r' || c == '\n')
                c = ' ';
        return text;
    }

    bool m_tty = isatty(2) != 0;
    int m_lastPercent = -1;
};

int SendOutbox(const std::string& folder, const std::string& url) {
    struct stat st {};
    if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        std::fprintf(stderr, "vorur-upload: no outbox folder at %s\n", folder.c_str());
        return 1;
    }
    auto notOutbox = [&] {
        std::fprintf(stderr,
                     "vorur-upload: %s is not an outbox the player made (it holds no %s); nothing was sent or "
                     "changed. An outbox of an older player is marked at the player's next start.\n",
                     folder.c_str(), kOutboxMark);
        return 1;
    };
    if (!IsOutboxFolder(folder))
        return notOutbox();
    COutbox outbox(folder, false);
    CProgressPrinter printer;
    const OutboxRound round =
        outbox.SendAll(url, true, [&printer](const OutboxEvent& event) { printer(event); });
    if (round.notOutbox)
        return notOutbox();
    if (round.busy) {
        std::fprintf(stderr, "vorur-upload: %s is in use by a running player; close it and try again\n",
                     folder.c_str());
        return 1;
    }
    std::fprintf(stderr, "%d accepted, %d refused, %d not sent, %d skipped, %d not tried\n", round.delivered,
                 round.refused, round.failed, round.skipped, round.left);
    if (round.failed || round.skipped || round.left)
        return 3;
    return round.refused ? 2 : 0;
}

}  // namespace

int main(int argc, char** argv) {
    OpenClosedStandardFiles();
    const char* self = argc > 0 ? argv[0] : "vorur-upload";
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        Usage(self, stdout);
        return 0;
    }
    if (argc == 4 && std::strcmp(argv[1], "--outbox") == 0)
        return SendOutbox(argv[2], argv[3]);
    if (argc != 4 || argv[1][0] == '-')
        return Usage(self);
    std::string reply;
    std::string error;
    if (!UploadFile(argv[1], argv[2], argv[3], reply, &error)) {
        std::fprintf(stderr, "vorur-upload: %s\n", error.c_str());
        return 1;
    }
    std::fwrite(reply.data(), 1, reply.size(), stdout);
    if (!reply.empty() && reply.back() != '\n')
        std::fputc('\n', stdout);
    if (std::fflush(stdout) != 0)
        return 1;
    // A refusal is not a success: scripts resending kept recordings must see it.
    if (reply.find("OK") == std::string::npos) {
        std::fprintf(stderr, "vorur-upload: the server did not accept %s\n", argv[2]);
        return 2;
    }
    return 0;
}
