#include "download/LinkAddress.h"

#include <cctype>

namespace {

std::string_view TrimBlanks(std::string_view s) {
    while (!s.empty() && static_cast<unsigned char>(s.front()) <= 32) s.remove_prefix(1);
    while (!s.empty() && static_cast<unsigned char>(s.back()) <= 32) s.remove_suffix(1);
    return s;
}

std::string Lower(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

bool IsWebScheme(const std::string& scheme) {
    const std::string s = Lower(scheme);
    return s == "http" || s == "https";
}

// Escapes with upper-case hex digits, so that "%7e" and "%7E" name one document.
std::string UpperEscapes(std::string_view s) {
    std::string out(s);
    for (std::size_t i = 0; i + 2 < out.size(); ++i) {
        if (out[i] != '%') continue;
        if (!std::isxdigit(static_cast<unsigned char>(out[i + 1])) ||
            !std::isxdigit(static_cast<unsigned char>(out[i + 2])))
            continue;
        out[i + 1] = static_cast<char>(std::toupper(static_cast<unsigned char>(out[i + 1])));
        out[i + 2] = static_cast<char>(std::toupper(static_cast<unsigned char>(out[i + 2])));
        i += 2;
    }
    return out;
}

std::string JoinAddress(const TAddressParts& p) {
    std::string out;
    if (p.HasScheme) out += p.Scheme + ":";
    if (p.HasAuthority) out += "//" + p.Authority;
    out += p.Path;
    if (p.HasQuery) out += "?" + p.Query;
    return out;
}

// Host and port of an authority, user information dropped, the default port of the
// scheme left out.
std::string HostAndPort(std::string_view authority, const std::string& scheme) {
    const std::size_t at = authority.rfind('@');
    if (at != std::string_view::npos) authority.remove_prefix(at + 1);
    std::string host = Lower(authority);
    // The port follows the last ":" unless that lies inside an IPv6 literal.
    const std::size_t colon = host.rfind(':');
    if (colon != std::string::npos && host.find(']', colon) == std::string::npos) {
        const std::string port = host.substr(colon + 1);
        const std::string s = Lower(scheme);
        if (port.empty() || (s == "http" && port == "80") || (s == "https" && port == "443"))
            host.erase(colon);
    }
    return host;
}

}  // namespace

TAddressParts SplitAddress(std::string_view address) {
    TAddressParts p;
    std::string_view rest = address;
    // A scheme is letters, digits, "+", "-", "." after a first letter, before a ":".
    const std::size_t colon = rest.find(':');
    if (colon != std::string_view::npos && colon > 0 &&
        std::isalpha(static_cast<unsigned char>(rest[0]))) {
        bool scheme = true;
        for (std::size_t i = 0; i < colon && scheme; ++i) {
            const unsigned char c = static_cast<unsigned char>(rest[i]);
            scheme = std::isalnum(c) || c == '+' || c == '-' || c == '.';
        }
        if (scheme) {
            p.HasScheme = true;
            p.Scheme = std::string(rest.substr(0, colon));
            rest.remove_prefix(colon + 1);
        }
    }
    const std::size_t hash = rest.find('#');
    if (hash != std::string_view::npos) {
        p.HasFragment = true;
        p.Fragment = std::string(rest.substr(hash + 1));
        rest = rest.substr(0, hash);
    }
    const std::size_t question = rest.find('?');
    if (question != std::string_view::npos) {
        p.HasQuery = true;
        p.Query = std::string(rest.substr(question + 1));
        rest = rest.substr(0, question);
    }
    if (rest.substr(0, 2) == "//") {
        rest.remove_prefix(2);
        const std::size_t slash = rest.find('/');
        p.HasAuthority = true;
        p.Authority = std::string(rest.substr(0, slash));
        rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash);
    }
    p.Path = std::string(rest);
    return p;
}

std::string RemoveDotSegments(std::string_view path) {
    std::string out;
    std::string_view in = path;
    while (!in.empty()) {
        if (in.substr(0, 3) == "../") {
            in.remove_prefix(3);
        } else if (in.substr(0, 2) == "./") {
            in.remove_prefix(2);
        } else if (in.substr(0, 3) == "/./") {
            in.remove_prefix(2);
        } else if (in == "/.") {
            in = "/";
        } else if (in.substr(0, 4) == "/../" || in == "/..") {
            in = in.size() == 3 ? std::string_view("/") : in.substr(3);
            const std::size_t last = out.rfind('/');
            out.erase(last == std::string::npos ? 0 : last);
        } else if (in == "." || in == "..") {
            in = {};
        } else {
            const std::size_t next = in.find('/', in[0] == '/' ? 1 : 0);
            out.append(in.substr(0, next));
            in = next == std::string_view::npos ? std::string_view() : in.substr(next);
        }
    }
    return out;
}

std::string ResolveLink(std::string_view base, std::string_view href) {
    const TAddressParts b = SplitAddress(TrimBlanks(base));
    if (!b.HasScheme || !b.HasAuthority) return {};
    const TAddressParts r = SplitAddress(TrimBlanks(href));
    TAddressParts t;
    if (r.HasScheme) {
        t = r;
        t.Path = RemoveDotSegments(r.Path);
    } else {
        t.HasScheme = true;
        t.Scheme = b.Scheme;
        if (r.HasAuthority) {
            t.HasAuthority = true;
            t.Authority = r.Authority;
            t.Path = RemoveDotSegments(r.Path);
            t.HasQuery = r.HasQuery;
            t.Query = r.Query;
        } else {
            t.HasAuthority = true;
            t.Authority = b.Authority;
            if (r.Path.empty()) {
                t.Path = b.Path;
                t.HasQuery = r.HasQuery || b.HasQuery;
                t.Query = r.HasQuery ? r.Query : b.Query;
            } else {
                if (r.Path[0] == '/') {
                    t.Path = RemoveDotSegments(r.Path);
                } else {
                    // Merged with the base's folder; a base without a path has the root.
                    const std::size_t slash = b.Path.rfind('/');
                    const std::string folder =
                        slash == std::string::npos ? "/" : b.Path.substr(0, slash + 1);
                    t.Path = RemoveDotSegments(folder + r.Path);
                }
                t.HasQuery = r.HasQuery;
                t.Query = r.Query;
            }
        }
    }
    if (!IsWebScheme(t.Scheme) || !t.HasAuthority || t.Authority.empty()) return {};
    if (t.Path.empty()) t.Path = "/";
    return JoinAddress(t);
}

std::string AddressIdentifier(std::string_view address) {
    const TAddressParts p = SplitAddress(TrimBlanks(address));
    if (!p.HasScheme || !IsWebScheme(p.Scheme) || !p.HasAuthority) return {};
    std::string id = HostAndPort(p.Authority, p.Scheme);
    if (id.empty()) return {};
    const std::string path = RemoveDotSegments(p.Path);
    id += UpperEscapes(path.empty() ? "/" : path);
    if (p.HasQuery) id += "?" + UpperEscapes(p.Query);
    return id;
}

std::string AddressFolder(std::string_view address) {
    TAddressParts p = SplitAddress(TrimBlanks(address));
    if (!p.HasScheme || !IsWebScheme(p.Scheme) || !p.HasAuthority) return {};
    std::string id = HostAndPort(p.Authority, p.Scheme);
    if (id.empty()) return {};
    std::string path = UpperEscapes(RemoveDotSegments(p.Path));
    const std::size_t slash = path.rfind('/');
    path = slash == std::string::npos ? "/" : path.substr(0, slash + 1);
    return id + path;
}
