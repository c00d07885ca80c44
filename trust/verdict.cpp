// The trust verdict over a security descriptor's text: the trusted accounts, the service
// SID, the rights that count for each kind of place, and a reader of the SDDL text that
// takes what it cannot read as unsafe.
#include "trust/verdict.h"

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

// The accounts every installation trusts: the system, the administrators and the
// installer's service. A domain's administrators follow the domain's SID (kDomainRids).
const char* const kTrustedSids[] = {
    "S-1-5-18",                                                        // SYSTEM
    "S-1-5-32-544",                                                    // BUILTIN\Administrators
    "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464",  // TrustedInstaller
};
// Administrator, Domain Admins, Enterprise Admins of a domain (or of the machine's own
// accounts): S-1-5-21-a-b-c-<rid>.
const unsigned long kDomainRids[] = {500, 512, 519};

// SDDL's two-letter names of the accounts the verdict must tell apart, with their SIDs;
// the domain-relative ones stand for the trusted administrators of the machine's domain.
struct Alias {
    const char* alias;
    const char* sid;
};
const Alias kAliases[] = {
    {"SY", "S-1-5-18"},     {"LS", "S-1-5-19"},     {"NS", "S-1-5-20"},     {"BA", "S-1-5-32-544"},
    {"BU", "S-1-5-32-545"}, {"BG", "S-1-5-32-546"}, {"PU", "S-1-5-32-547"}, {"BO", "S-1-5-32-551"},
    {"SO", "S-1-5-32-549"}, {"AO", "S-1-5-32-548"}, {"RU", "S-1-5-32-554"}, {"WD", "S-1-1-0"},
    {"AU", "S-1-5-11"},     {"IU", "S-1-5-4"},      {"NU", "S-1-5-2"},      {"AN", "S-1-5-7"},
    {"SU", "S-1-5-6"},      {"PS", "S-1-5-10"},     {"RC", "S-1-5-12"},     {"OW", "S-1-3-4"},
    {"CO", "S-1-3-0"},      {"CG", "S-1-3-1"},      {"AC", "S-1-15-2-1"},
};
const char* const kTrustedDomainAliases[] = {"LA", "DA", "EA"};

const char kEveryone[] = "S-1-1-0";
const char kOwnerRights[] = "S-1-3-4";   // stands for the owner, who is judged as such
const char kCreatorOwner[] = "S-1-3-0";  // placeholders that only inheritance replaces
const char kCreatorGroup[] = "S-1-3-1";

// Access rights, as winnt.h numbers them.
enum : uint32_t {
    kWriteData = 0x2,          // FILE_WRITE_DATA, FILE_ADD_FILE
    kAppendData = 0x4,         // FILE_APPEND_DATA, FILE_ADD_SUBDIRECTORY
    kDeleteChild = 0x40,       // FILE_DELETE_CHILD
    kWriteAttributes = 0x100,  // FILE_WRITE_ATTRIBUTES
    kDelete = 0x10000,
    kWriteDac = 0x40000,
    kWriteOwner = 0x80000,
    kMaximumAllowed = 0x02000000,
    kGenericAll = 0x10000000,
    kGenericWrite = 0x40000000,
    kFileAllAccess = 0x1F01FF,
    kFileGenericWrite = 0x120116,
};

const uint32_t kCountedOnFile = kWriteData | kAppendData | kDelete | kWriteDac | kWriteOwner;
const uint32_t kCountedOnFolder = kCountedOnFile | kDeleteChild | kWriteAttributes;
const uint32_t kCountedOnAncestor = kDeleteChild | kDelete | kWriteDac | kWriteOwner;

struct RightName {
    char name[3];
    uint32_t mask;
};
const RightName kRightNames[] = {
    {"GA", 0x10000000}, {"GR", 0x80000000}, {"GW", 0x40000000}, {"GX", 0x20000000},
    {"RC", 0x20000},    {"SD", 0x10000},    {"WD", 0x40000},    {"WO", 0x80000},
    {"RP", 0x10},       {"WP", 0x20},       {"CC", 0x1},        {"DC", 0x2},
    {"LC", 0x4},        {"SW", 0x8},        {"LO", 0x80},       {"DT", 0x40},
    {"CR", 0x100},      {"FA", 0x1F01FF},   {"FR", 0x120089},   {"FW", 0x120116},
    {"FX", 0x1200A0},   {"KA", 0xF003F},    {"KR", 0x20019},    {"KW", 0x20006},
    {"KX", 0x20019},    {"NR", 0x1},        {"NW", 0x2},        {"NX", 0x4},
};

// A piece of the descriptor's text.
struct Span {
    const char* begin;
    size_t length;
};

bool SpanIs(Span span, const char* text) {
    return strlen(text) == span.length && memcmp(span.begin, text, span.length) == 0;
}

// The SID that an alias stands for, or the text itself; false when it does not fit.
bool NormalizeSid(Span text, char* sid, size_t bytes) {
    for (const Alias& alias : kAliases) {
        if (SpanIs(text, alias.alias)) {
            snprintf(sid, bytes, "%s", alias.sid);
            return true;
        }
    }
    if (text.length == 0 || text.length >= bytes) {
        return false;
    }
    memcpy(sid, text.begin, text.length);
    sid[text.length] = '\0';
    return true;
}

// S-1-5-21-a-b-c-rid with rid one of kDomainRids.
bool IsDomainAdministrator(const char* sid) {
    static const char kDomainPrefix[] = "S-1-5-21-";
    if (strncmp(sid, kDomainPrefix, sizeof kDomainPrefix - 1) != 0) {
        return false;
    }
    const char* c = sid + sizeof kDomainPrefix - 1;
    unsigned long last = 0;
    for (int part = 0; part < 4; ++part) {
        if (*c < '0' || *c > '9') {
            return false;
        }
        char* end = nullptr;
        last = strtoul(c, &end, 10);
        c = end;
        if (part < 3 && *c++ != '-') {
            return false;
        }
    }
    if (*c != '\0') {
        return false;
    }
    for (unsigned long rid : kDomainRids) {
        if (last == rid) {
            return true;
        }
    }
    return false;
}

// The counted rights of mask for kind, generic rights mapped to the file rights first.
bool GrantsCountedRight(uint32_t mask, PlaceKind kind) {
    if ((mask & (kGenericAll | kMaximumAllowed)) != 0) {
        mask |= kFileAllAccess;
    }
    if ((mask & kGenericWrite) != 0) {
        mask |= kFileGenericWrite;
    }
    uint32_t counted = kind == kPlaceFile     ? kCountedOnFile
                       : kind == kPlaceFolder ? kCountedOnFolder
                                              : kCountedOnAncestor;
    return (mask & counted) != 0;
}

// A number ("0x1301ff", "2032127") or a run of two-letter names.
bool ParseRights(Span text, uint32_t* mask) {
    *mask = 0;
    if (text.length == 0) {
        return true;  // no rights at all
    }
    if (text.begin[0] >= '0' && text.begin[0] <= '9') {
        char number[24];
        if (text.length >= sizeof number) {
            return false;
        }
        memcpy(number, text.begin, text.length);
        number[text.length] = '\0';
        char* end = nullptr;
        unsigned long value = strtoul(number, &end, 0);
        *mask = static_cast<uint32_t>(value);
        return *end == '\0';
    }
    if (text.length % 2 != 0) {
        return false;
    }
    for (size_t i = 0; i < text.length; i += 2) {
        bool known = false;
        for (const RightName& right : kRightNames) {
            if (text.begin[i] == right.name[0] && text.begin[i + 1] == right.name[1]) {
                *mask |= right.mask;
                known = true;
                break;
            }
        }
        if (!known) {
            return false;
        }
    }
    return true;
}

bool IsInheritOnly(Span flags) {
    for (size_t i = 0; i + 1 < flags.length; i += 2) {
        if (flags.begin[i] == 'I' && flags.begin[i + 1] == 'O') {
            return true;
        }
    }
    return false;
}

bool IsAllowEntry(Span type) {
    return SpanIs(type, "A") || SpanIs(type, "OA") || SpanIs(type, "XA") || SpanIs(type, "ZA");
}

// Names sid in the verdict, once.
void Count(const char* sid, TrustVerdict* verdict) {
    int named = verdict->count < kMaxCountedAccounts ? verdict->count : kMaxCountedAccounts;
    for (int i = 0; i < named; ++i) {
        if (strcmp(verdict->accounts[i], sid) == 0) {
            return;
        }
    }
    if (verdict->count < kMaxCountedAccounts) {
        snprintf(verdict->accounts[verdict->count], kSidTextBytes, "%s", sid);
    }
    ++verdict->count;
}

// The end of the entry that starts at c (its '('): the matching ')', passing over the
// nested parentheses and quoted strings of conditions and attributes; null when the
// text ends first.
const char* EntryEnd(const char* c) {
    int depth = 0;
    bool quoted = false;
    for (; *c != '\0'; ++c) {
        if (*c == '"') {
            quoted = !quoted;
        } else if (!quoted && *c == '(') {
            ++depth;
        } else if (!quoted && *c == ')' && --depth == 0) {
            return c;
        }
    }
    return nullptr;
}

// Judges one access entry, the text between its parentheses.
bool JudgeEntry(Span entry, PlaceKind kind, const TrustedSelf* self, TrustVerdict* verdict) {
    Span fields[6];
    const char* c = entry.begin;
    const char* end = entry.begin + entry.length;
    for (int i = 0; i < 6; ++i) {
        const char* stop = c;
        while (stop < end && *stop != ';') {
            ++stop;
        }
        if (stop == end && i < 5) {
            return false;
        }
        fields[i] = {c, static_cast<size_t>(stop - c)};
        c = stop + 1;
    }
    uint32_t mask = 0;
    if (!ParseRights(fields[2], &mask)) {
        return false;
    }
    char sid[kSidTextBytes];
    if (!NormalizeSid(fields[5], sid, sizeof sid)) {
        return false;
    }
    if (!IsAllowEntry(fields[0]) || IsInheritOnly(fields[1]) || !GrantsCountedRight(mask, kind) ||
        strcmp(sid, kOwnerRights) == 0 || strcmp(sid, kCreatorOwner) == 0 ||
        strcmp(sid, kCreatorGroup) == 0 || IsTrustedAccount(sid, self)) {
        return true;
    }
    Count(sid, verdict);
    return true;
}

// The part of the text after "X:" up to the next part or the end.
Span Part(const char* sddl, char letter) {
    for (const char* c = sddl; *c != '\0'; ++c) {
        if (c[0] == letter && c[1] == ':') {
            const char* begin = c + 2;
            const char* stop = begin;
            // A part ends where the next one's letter and colon begin, outside entries.
            while (*stop != '\0') {
                if (*stop == '(') {
                    const char* close = EntryEnd(stop);
                    if (close == nullptr) {
                        return {begin, strlen(begin)};
                    }
                    stop = close + 1;
                    continue;
                }
                if (stop[1] == ':') {
                    break;
                }
                ++stop;
            }
            return {begin, static_cast<size_t>(stop - begin)};
        }
        if (*c == '(') {
            const char* close = EntryEnd(c);
            if (close == nullptr) {
                break;
            }
            c = close;
        }
    }
    return {nullptr, 0};
}

bool JudgeAccessList(Span dacl, PlaceKind kind, const TrustedSelf* self, TrustVerdict* verdict) {
    const char* c = dacl.begin;
    const char* end = dacl.begin + dacl.length;
    while (c < end && *c != '(') {
        ++c;
    }
    Span flags = {dacl.begin, static_cast<size_t>(c - dacl.begin)};
    if (SpanIs(flags, "NO_ACCESS_CONTROL")) {
        Count(kEveryone, verdict);
        return true;
    }
    while (c < end) {
        if (*c != '(') {
            return false;
        }
        const char* close = EntryEnd(c);
        if (close == nullptr || close >= end) {
            return false;
        }
        if (!JudgeEntry({c + 1, static_cast<size_t>(close - c - 1)}, kind, self, verdict)) {
            return false;
        }
        c = close + 1;
    }
    return true;
}

}  // namespace

bool IsTrustedAccount(const char* sid, const TrustedSelf* self) {
    char normalized[kSidTextBytes];
    if (!NormalizeSid({sid, strlen(sid)}, normalized, sizeof normalized)) {
        return false;
    }
    for (const char* trusted : kTrustedSids) {
        if (strcmp(normalized, trusted) == 0) {
            return true;
        }
    }
    for (const char* alias : kTrustedDomainAliases) {
        if (strcmp(normalized, alias) == 0) {
            return true;
        }
    }
    if (IsDomainAdministrator(normalized)) {
        return true;
    }
    return self != nullptr &&
           ((self->processSid != nullptr && strcmp(normalized, self->processSid) == 0) ||
            (self->serviceSid != nullptr && strcmp(normalized, self->serviceSid) == 0));
}

void JudgeSecurityDescriptor(const char* sddl, PlaceKind kind, const TrustedSelf* self,
                             TrustVerdict* verdict) {
    memset(verdict, 0, sizeof *verdict);
    Span owner = Part(sddl, 'O');
    if (owner.begin != nullptr) {
        char sid[kSidTextBytes];
        if (!NormalizeSid(owner, sid, sizeof sid)) {
            verdict->unreadable = true;
            return;
        }
        if (!IsTrustedAccount(sid, self)) {
            Count(sid, verdict);
        }
    }
    Span dacl = Part(sddl, 'D');
    if (dacl.begin == nullptr) {
        Count(kEveryone, verdict);  // no access list at all: nothing is refused
        return;
    }
    if (!JudgeAccessList(dacl, kind, self, verdict)) {
        verdict->unreadable = true;
    }
}

// --- The service SID

namespace {

uint32_t RotateLeft(uint32_t value, int bits) {
    return (value << bits) | (value >> (32 - bits));
}

void Sha1Block(const unsigned char* block, uint32_t* state) {
    uint32_t w[80];
    for (int i = 0; i < 16; ++i) {
        w[i] = uint32_t(block[4 * i]) << 24 | uint32_t(block[4 * i + 1]) << 16 |
               uint32_t(block[4 * i + 2]) << 8 | uint32_t(block[4 * i + 3]);
    }
    for (int i = 16; i < 80; ++i) {
        w[i] = RotateLeft(w[i - 3] ^ w[i - 8] ^ w[i - 14] ^ w[i - 16], 1);
    }
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3], e = state[4];
    for (int i = 0; i < 80; ++i) {
        uint32_t f, k;
        if (i < 20) {
            f = (b & c) | (~b & d), k = 0x5A827999;
        } else if (i < 40) {
            f = b ^ c ^ d, k = 0x6ED9EBA1;
        } else if (i < 60) {
            f = (b & c) | (b & d) | (c & d), k = 0x8F1BBCDC;
        } else {
            f = b ^ c ^ d, k = 0xCA62C1D6;
        }
        uint32_t next = RotateLeft(a, 5) + f + e + k + w[i];
        e = d, d = c, c = RotateLeft(b, 30), b = a, a = next;
    }
    state[0] += a, state[1] += b, state[2] += c, state[3] += d, state[4] += e;
}

enum { kServiceNameChars = 256 };  // longest service name, as the service manager allows

}  // namespace

bool ComputeServiceSid(const char* serviceName, char* sid, size_t bytes) {
    // The name in upper case as UTF-16LE, then SHA-1's padding and length.
    unsigned char message[2 * kServiceNameChars + 64 + 8] = {};
    size_t length = 0;
    for (const char* c = serviceName; *c != '\0'; ++c) {
        unsigned char ch = static_cast<unsigned char>(*c);
        if (ch >= 0x80 || length >= 2 * kServiceNameChars) {
            return false;
        }
        message[length++] =
            ch >= 'a' && ch <= 'z' ? static_cast<unsigned char>(ch - 'a' + 'A') : ch;
        message[length++] = 0;
    }
    uint64_t bits = uint64_t(length) * 8;
    size_t padded = (length + 1 + 8 + 63) / 64 * 64;
    message[length] = 0x80;
    for (int i = 0; i < 8; ++i) {
        message[padded - 1 - i] = static_cast<unsigned char>(bits >> (8 * i));
    }
    uint32_t state[5] = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0xC3D2E1F0};
    for (size_t block = 0; block < padded; block += 64) {
        Sha1Block(message + block, state);
    }
    // The digest's bytes, big-endian from the state, read as little-endian numbers.
    unsigned long parts[5];
    for (int i = 0; i < 5; ++i) {
        uint32_t v = state[i];
        parts[i] = (v >> 24) | ((v >> 8) & 0xFF00) | ((v << 8) & 0xFF0000) | (v << 24);
    }
    int written = snprintf(sid, bytes, "S-1-5-80-%lu-%lu-%lu-%lu-%lu", parts[0], parts[1], parts[2],
                           parts[3], parts[4]);
    return written > 0 && static_cast<size_t>(written) < bytes;
}

namespace {

char LowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// path without the system's literal prefix; "\\?\UNC\server\share" is "\\server\share",
// which *share tells.
const char* WithoutLiteralPrefix(const char* path, bool* share) {
    *share = false;
    if (strncmp(path, "\\\\?\\", 4) != 0) {
        return path;
    }
    path += 4;
    *share = LowerAscii(path[0]) == 'u' && LowerAscii(path[1]) == 'n' &&
             LowerAscii(path[2]) == 'c' && path[3] == '\\';
    return *share ? path + 4 : path;
}

// The length of path without one trailing backslash, where that is not a root's ("C:\").
size_t WithoutTrailingSeparator(const char* path) {
    size_t length = strlen(path);
    return length > 3 && path[length - 1] == '\\' ? length - 1 : length;
}

}  // namespace

bool IsFinalPathOf(const char* path, const char* finalPath) {
    bool pathShare = false;
    bool finalShare = false;
    const char* expected = WithoutLiteralPrefix(path, &pathShare);
    const char* rest = WithoutLiteralPrefix(finalPath, &finalShare);
    if (pathShare != finalShare) {  // "\\server\share" against "\\?\UNC\server\share"
        const char** plain = pathShare ? &rest : &expected;
        if ((*plain)[0] != '\\' || (*plain)[1] != '\\') {
            return false;
        }
        *plain += 2;
    }
    size_t length = WithoutTrailingSeparator(expected);
    if (length != WithoutTrailingSeparator(rest)) {
        return false;
    }
    for (size_t i = 0; i < length; ++i) {
        if (LowerAscii(expected[i]) != LowerAscii(rest[i])) {
            return false;
        }
    }
    return true;
}
