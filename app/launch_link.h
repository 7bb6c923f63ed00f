// Launches from outside a terminal: a "vorur-ozudiz:" link that a web page hands to
// the desktop, and a lesson file opened from the file manager. Both become the seven
// launch arguments a launcher gives. Without Qt.
//
//   vorur-ozudiz://launch?url=U&id=I&class=C&tag1=T1&tag2=T2&tag3=T3&times=M
//
// A link can come from any page on the web, so it is read strictly: every value is
// percent-decoded to bytes ("+" stays "+"), the seven keys must each come exactly
// once (others are ignored), no value may hold a control byte, the link is at most
// kMaxLaunchLinkBytes, and the lesson URL must be http or https on a host of the
// launch host list, with no user-info part.
#pragma once

#include <string>
#include <string_view>
#include <vector>

inline constexpr char kLaunchLinkScheme[] = "vorur-ozudiz";
inline constexpr size_t kMaxLaunchLinkBytes = 4096;
// A host list longer than this is cut: it is read from settings files, and a host
// name is at most 253 bytes.
inline constexpr size_t kMaxLaunchHosts = 256;

enum class LaunchLinkFault {
    None,
    TooLong,        // over kMaxLaunchLinkBytes
    NotLaunchLink,  // not "vorur-ozudiz://launch?..."
    BadEscape,      // "%" not followed by two hex digits
    MissingKey,     // key names it
    RepeatedKey,    // key names it
    ControlByte,    // key names the value that holds one
    Scheme,         // the lesson URL is not http or https; detail is its scheme
    UserInfo,       // the lesson URL has "user@" before its host
    BadHost,        // no host, or a host or port that is not plainly written
    HostNotAllowed, // detail is the host
};

struct LaunchLinkResult {
    LaunchLinkFault fault = LaunchLinkFault::None;
    std::string key;     // the key a fault is about
    std::string detail;  // the scheme or host a fault is about
    // Accepted: url, id, class, tag1, tag2, tag3, times, in this order.
    std::vector<std::string> args;
};

// Whether a single command-line argument is a launch link (its scheme, any case).
bool IsLaunchLink(std::string_view arg);

// Decodes and checks a link against the host list (as NormalizeHost gives them).
LaunchLinkResult ParseLaunchLink(std::string_view link, const std::vector<std::string>& allowedHosts);

// The host of an http or https URL, normalized, and the fault when there is none
// that may be compared: the scheme, a user-info part, anything but plain host
// characters in the host or digits in the port.
LaunchLinkFault UrlHost(std::string_view url, std::string& host, std::string& scheme);

// A host as it is compared: letters in lower case, one trailing dot and IPv6
// brackets removed, spaces around it trimmed.
std::string NormalizeHost(std::string_view host);

// The hosts of a comma-separated list, normalized; empty entries dropped, at most
// kMaxLaunchHosts.
std::vector<std::string> ParseHostList(std::string_view list);

// The host of an upload host setting ("host", "host:port", "[v6]:port").
std::string HostOfHostPort(std::string_view hostPort);

// The launch arguments for a lesson file opened from the file manager: its file://
// URL (absolute, percent-encoded) and PRACTICE, so nothing is recorded or sent.
// `arg` is a path or a file:// URL; relative paths are taken from `workingFolder`.
// False when it names no file.
bool LessonFileArgs(const std::string& arg, const std::string& workingFolder, std::vector<std::string>& args);

// The Korean message the learner sees for a refused link, and the English line for
// stderr.
std::string LaunchLinkMessage(const LaunchLinkResult& result);
std::string LaunchLinkDiagnostic(const LaunchLinkResult& result);
