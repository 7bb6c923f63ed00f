// vorur-upload URL NAME FILE
//
// Sends FILE to the lesson server's upload script at URL under the file name
// NAME, exactly as the player does at the end of a test run, and prints the
// server's reply. Exit status 0 when the request was sent (whatever the reply
// says), 1 otherwise.
#include "http_file_up.h"

#include <cstdio>
#include <string>

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr,
                     "usage: %s URL NAME FILE\n"
                     "  sends FILE to URL as the upload named NAME and prints the server's reply\n",
                     argc > 0 ? argv[0] : "vorur-upload");
        return 1;
    }
    std::string reply;
    std::string error;
    if (!UploadFile(argv[1], argv[2], argv[3], reply, &error)) {
        std::fprintf(stderr, "vorur-upload: %s\n", error.c_str());
        return 1;
    }
    std::fwrite(reply.data(), 1, reply.size(), stdout);
    if (!reply.empty() && reply.back() != '\n')
        std::fputc('\n', stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
}
