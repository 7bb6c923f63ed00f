#include "launch_link.h"

#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>

namespace {

constexpr std::array<const char*, 7> kKeys = {"url", "id", "class", "tag1", "tag2", "tag3", "times"};

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size())
        return false;
    for (size_t i = 0; i < prefix.size(); ++i)
        if (Lower(text[i]) != Lower(prefix[i]))
            return false;
    return true;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// RFC 3986 decoding: "%XX" to its byte, everything else (including "+") as it is.
bool PercentDecode(std::string_view in, std::string& out) {
    out.clear();
    out.reserve(in.size());
    for (size_t i = 0; i < in.size(); ++i) {
        if (in[i] != '%') {
            out += in[i];
            continue;
        }
        if (i + 2 >= in.size())
            return false;
        const int hi = HexValue(in[i + 1]), lo = HexValue(in[i + 2]);
        if (hi < 0 || lo < 0)
            return false;
        out += static_cast<char>(hi * 16 + lo);
        i += 2;
    }
    return true;
}

bool HasControlByte(std::string_view value) {
    for (unsigned char c : value)
        if (c < 0x20 || c == 0x7F)
            return true;
    return false;
}

bool IsHostChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
           c == '_';
}

bool IsUnreservedOrSlash(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
           c == '_' || c == '~' || c == '/';
}

}  // namespace

bool IsLaunchLink(std::string_view arg) {
    return StartsWithNoCase(arg, kLaunchLinkScheme) && arg.size() > sizeof kLaunchLinkScheme - 1 &&
           arg[sizeof kLaunchLinkScheme - 1] == ':';
}

std::string NormalizeHost(std::string_view host) {
    while (!host.empty() && (host.front() == ' ' || host.front() == '\t'))
        host.remove_prefix(1);
    while (!host.empty() && (host.back() == ' ' || host.back() == '\t'))
        host.remove_suffix(1);
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    if (host.size() > 1 && host.back() == '.')
        host.remove_suffix(1);
    std::string out;
    out.reserve(host.size());
    for (char c : host)
        out += Lower(c);
    return out;
}

std::vector<std::string> ParseHostList(std::string_view list) {
    std::vector<std::string> hosts;
    while (!list.empty() && hosts.size() < kMaxLaunchHosts) {
        const size_t comma = list.find(',');
        std::string host = NormalizeHost(list.substr(0, comma));
        if (!host.empty())
            hosts.push_back(std::move(host));
        if (comma == std::string_view::npos)
            break;
        list.remove_prefix(comma + 1);
    }
    return hosts;
}

std::string HostOfHostPort(std::string_view hostPort) {
    if (!hostPort.empty() && hostPort.front() == '[') {
        const size_t close = hostPort.find(']');
        return NormalizeHost(close == std::string_view::npos ? hostPort : hostPort.substr(0, close + 1));
    }
    // A bare IPv6 address has more than one colon and no port.
    const size_t colon = hostPort.find(':');
    if (colon != std::string_view::npos && hostPort.find(':', colon + 1) == std::string_view::npos)
        hostPort = hostPort.substr(0, colon);
    return NormalizeHost(hostPort);
}

LaunchLinkFault UrlHost(std::string_view url, std::string& host, std::string& scheme) {
    host.clear();
    const size_t colon = url.find(':');
    scheme.clear();
    // Named in messages only when it is plainly a scheme.
    for (char c : url.substr(0, colon == std::string_view::npos ? 0 : std::min<size_t>(colon, 32))) {
        c = Lower(c);
        if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.')) {
            scheme.clear();
            break;
        }
        scheme += c;
    }
    if (colon == std::string_view::npos || (scheme != "http" && scheme != "https"))
        return LaunchLinkFault::Scheme;
    std::string_view rest = url.substr(colon + 1);
    if (rest.substr(0, 2) != "//")
        return LaunchLinkFault::BadHost;
    rest.remove_prefix(2);
    // The authority ends where the path, query or fragment begins; a backslash is
    // no separator for the fetch, so it is no host character either.
    const size_t end = rest.find_first_of("/?#");
    const std::string_view authority = rest.substr(0, end);
    if (authority.find('@') != std::string_view::npos)
        return LaunchLinkFault::UserInfo;

    std::string_view hostPart = authority, port;
    if (!authority.empty() && authority.front() == '[') {
        const size_t close = authority.find(']');
        if (close == std::string_view::npos)
            return LaunchLinkFault::BadHost;
        hostPart = authority.substr(0, close + 1);
        const std::string_view inner = authority.substr(1, close - 1);
        if (inner.empty() || inner.find(':') == std::string_view::npos)
            return LaunchLinkFault::BadHost;
        for (char c : inner)
            if (HexValue(c) < 0 && c != ':' && c != '.')
                return LaunchLinkFault::BadHost;
        const std::string_view after = authority.substr(close + 1);
        if (!after.empty()) {
            if (after.front() != ':')
                return LaunchLinkFault::BadHost;
            port = after.substr(1);
            if (port.empty())
                return LaunchLinkFault::BadHost;
        }
    } else {
        const size_t portColon = authority.find(':');
        if (portColon != std::string_view::npos) {
            hostPart = authority.substr(0, portColon);
            port = authority.substr(portColon + 1);
            if (port.empty())
                return LaunchLinkFault::BadHost;
        }
        if (hostPart.empty() || hostPart.size() > 253)
            return LaunchLinkFault::BadHost;
        for (char c : hostPart)
            if (!IsHostChar(c))
                return LaunchLinkFault::BadHost;
        if (hostPart == "." || hostPart.find("..") != std::string_view::npos)
            return LaunchLinkFault::BadHost;
    }
    if (port.size() > 5)
        return LaunchLinkFault::BadHost;
    long portNumber = 0;
    for (char c : port) {
        if (c < '0' || c > '9')
            return LaunchLinkFault::BadHost;
        portNumber = portNumber * 10 + (c - '0');
    }
    if (!port.empty() && (portNumber == 0 || portNumber > 65535))
        return LaunchLinkFault::BadHost;
    host = NormalizeHost(hostPart);
    return LaunchLinkFault::None;
}

LaunchLinkResult ParseLaunchLink(std::string_view link, const std::vector<std::string>& allowedHosts) {
    LaunchLinkResult result;
    auto fail = [&](LaunchLinkFault fault, std::string key = {}, std::string detail = {}) {
        result.fault = fault;
        result.key = std::move(key);
        result.detail = std::move(detail);
        result.args.clear();
        return result;
    };
    if (link.size() > kMaxLaunchLinkBytes)
        return fail(LaunchLinkFault::TooLong);
    if (!IsLaunchLink(link))
        return fail(LaunchLinkFault::NotLaunchLink);
    std::string_view rest = link.substr(sizeof kLaunchLinkScheme);
    if (!StartsWithNoCase(rest, "//launch"))
        return fail(LaunchLinkFault::NotLaunchLink);
    rest.remove_prefix(8);
    if (!rest.empty() && rest.front() == '/')
        rest.remove_prefix(1);
    if (rest.empty() || rest.front() != '?')
        return fail(LaunchLinkFault::NotLaunchLink);
    rest.remove_prefix(1);
    rest = rest.substr(0, rest.find('#'));

    std::array<std::string, kKeys.size()> values;
    std::array<bool, kKeys.size()> seen = {};
    std::string key, value;
    while (true) {
        const size_t amp = rest.find('&');
        const std::string_view pair = rest.substr(0, amp);
        if (!pair.empty()) {
            const size_t eq = pair.find('=');
            if (!PercentDecode(pair.substr(0, eq), key) ||
                !PercentDecode(eq == std::string_view::npos ? std::string_view() : pair.substr(eq + 1), value))
                return fail(LaunchLinkFault::BadEscape);
            for (size_t k = 0; k < kKeys.size(); ++k) {
                if (key != kKeys[k])
                    continue;
                if (seen[k])
                    return fail(LaunchLinkFault::RepeatedKey, key);
                if (HasControlByte(value))
                    return fail(LaunchLinkFault::ControlByte, key);
                seen[k] = true;
                values[k] = value;
            }
        }
        if (amp == std::string_view::npos)
            break;
        rest.remove_prefix(amp + 1);
    }
    for (size_t k = 0; k < kKeys.size(); ++k)
        if (!seen[k])
            return fail(LaunchLinkFault::MissingKey, kKeys[k]);

    std::string host, scheme;
    const LaunchLinkFault urlFault = UrlHost(values[0], host, scheme);
    if (urlFault != LaunchLinkFault::None)
        return fail(urlFault, "url", urlFault == LaunchLinkFault::Scheme ? scheme : std::string());
    bool allowed = false;
    for (const std::string& h : allowedHosts)
        allowed = allowed || (!h.empty() && h == host);
    if (!allowed)
        return fail(LaunchLinkFault::HostNotAllowed, "url", host);
    result.args.assign(values.begin(), values.end());
    return result;
}

bool LessonFileArgs(const std::string& arg, const std::string& workingFolder, std::vector<std::string>& args) {
    if (arg.empty() || arg.size() > PATH_MAX)
        return false;
    std::string path = arg;
    if (StartsWithNoCase(arg, "file:")) {
        std::string_view rest = std::string_view(arg).substr(5);
        if (rest.substr(0, 2) == "//") {
            rest.remove_prefix(2);
            const size_t slash = rest.find('/');
            const std::string_view host = rest.substr(0, slash);
            if (slash == std::string_view::npos || (!host.empty() && NormalizeHost(host) != "localhost"))
                return false;
            rest.remove_prefix(slash);
        }
        if (!PercentDecode(rest, path) || path.empty() || path.front() != '/')
            return false;
    } else if (path.front() != '/') {
        path = workingFolder + "/" + path;
    }
    if (path.find('\0') != std::string::npos)
        return false;
    char resolved[PATH_MAX];
    if (!realpath(path.c_str(), resolved))
        return false;
    struct stat st;
    if (stat(resolved, &st) != 0 || !S_ISREG(st.st_mode))
        return false;

    static const char kHex[] = "0123456789ABCDEF";
    std::string url = "file://";
    for (unsigned char c : std::string_view(resolved)) {
        if (IsUnreservedOrSlash(c)) {
            url += static_cast<char>(c);
        } else {
            url += '%';
            url += kHex[c >> 4];
            url += kHex[c & 15];
        }
    }
    args = {url, "", "", "", "", "", "PRACTICE"};
    return true;
}

std::string LaunchLinkMessage(const LaunchLinkResult& r) {
    const std::string key = "'" + r.key + "'";
    switch (r.fault) {
    case LaunchLinkFault::None:
        return {};
    case LaunchLinkFault::HostNotAllowed:
        return "이 링크의 강좌는 허용되지 않은 서버(" + r.detail + ")에 있어 열 수 없습니다.";
    case LaunchLinkFault::TooLong:
        return "강좌 링크가 잘못되었습니다: 링크가 너무 깁니다.";
    case LaunchLinkFault::NotLaunchLink:
        return "강좌 링크가 잘못되었습니다: 링크의 형식이 맞지 않습니다.";
    case LaunchLinkFault::BadEscape:
        return "강좌 링크가 잘못되었습니다: 잘못된 % 인코딩이 있습니다.";
    case LaunchLinkFault::MissingKey:
        return "강좌 링크가 잘못되었습니다: " + key + " 값이 없습니다.";
    case LaunchLinkFault::RepeatedKey:
        return "강좌 링크가 잘못되었습니다: " + key + " 값이 두 번 이상 있습니다.";
    case LaunchLinkFault::ControlByte:
        return "강좌 링크가 잘못되었습니다: " + key + " 값에 제어 문자가 있습니다.";
    case LaunchLinkFault::Scheme:
        return "강좌 링크가 잘못되었습니다: 강좌 주소는 http 또는 https 주소여야 합니다" +
               (r.detail.empty() ? std::string(".") : " (" + r.detail + ":).");
    case LaunchLinkFault::UserInfo:
        return "강좌 링크가 잘못되었습니다: 강좌 주소에 사용자 정보(@)가 있습니다.";
    case LaunchLinkFault::BadHost:
        return "강좌 링크가 잘못되었습니다: 강좌 주소의 서버 이름이 잘못되었습니다.";
    }
    return {};
}

std::string LaunchLinkDiagnostic(const LaunchLinkResult& r) {
    const std::string prefix = "launch link refused: ";
    switch (r.fault) {
    case LaunchLinkFault::None:
        return {};
    case LaunchLinkFault::HostNotAllowed:
        return prefix + "the lesson host " + r.detail + " is not in LaunchHosts";
    case LaunchLinkFault::TooLong:
        return prefix + "longer than " + std::to_string(kMaxLaunchLinkBytes) + " bytes";
    case LaunchLinkFault::NotLaunchLink:
        return prefix + "not of the form " + kLaunchLinkScheme + "://launch?url=...";
    case LaunchLinkFault::BadEscape:
        return prefix + "a \"%\" not followed by two hex digits";
    case LaunchLinkFault::MissingKey:
        return prefix + "no " + r.key + "=";
    case LaunchLinkFault::RepeatedKey:
        return prefix + r.key + "= given more than once";
    case LaunchLinkFault::ControlByte:
        return prefix + "the value of " + r.key + "= holds a control byte";
    case LaunchLinkFault::Scheme:
        return prefix + "the lesson URL is " + (r.detail.empty() ? "without a scheme" : r.detail + ":") +
               ", not http or https";
    case LaunchLinkFault::UserInfo:
        return prefix + "the lesson URL has a user-info part (\"@\")";
    case LaunchLinkFault::BadHost:
        return prefix + "the lesson URL has no plain host name and port";
    }
    return {};
}
