#include "platform/xfile/xlex.h"

#include <algorithm>
#include <array>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdio>

namespace xfile {

namespace {

// Binary token codes.
enum : uint16_t {
    kName = 1,
    kString = 2,
    kInteger = 3,
    kGuid = 5,
    kIntegerList = 6,
    kFloatList = 7,
    kOBrace = 10,
    kCBrace = 11,
    kOParen = 12,
    kDot = 18,
    kComma = 19,
    kSemicolon = 20,
    kTemplate = 31,
    kWord = 40,
    kArray = 52,
};

// What a byte between tokens is: white space, a line end, the start of a comment ('#', or '/'
// when a second one follows), a separator, or the start of a token.
enum : uint8_t { kStop, kBlank, kNewline, kComment, kSlash, kSeparator };
constexpr auto kSkip = [] {
    std::array<uint8_t, 256> table{};
    for (char c : std::string_view(" \t\r\v\f")) table[uint8_t(c)] = kBlank;
    table['\n'] = kNewline;
    table['#'] = kComment;
    table['/'] = kSlash;
    table[';'] = table[','] = kSeparator;
    return table;
}();

// Bytes that end a word: white space and the punctuation of the format.
constexpr auto kDelimiters = [] {
    std::array<bool, 256> table{};
    for (char c : std::string_view(" \t\r\n\v\f{};,\"<>[]()#")) table[uint8_t(c)] = true;
    return table;
}();

// What a byte does to a word: 0 continues it, 1 ends it (a delimiter), 2 ends it when a second
// '/' follows (a comment), 3 is a control byte no word may hold.
constexpr auto kWordEnd = [] {
    std::array<uint8_t, 256> table{};
    for (int c = 0; c < 256; ++c)
        table[c] = kDelimiters[c] ? 1 : c == '/' ? 2 : (c < 0x20 || c == 0x7f) ? 3 : 0;
    return table;
}();

// The bytes a plain decimal can start with.
bool MayStartNumber(uint8_t c) {
    return uint8_t(c - '0') < 10 || c == '-' || c == '.';
}

// A text number the plain path did not take ("+1", "1e-3", "3//comment"): a non-negative
// integer that fits 32 bits stays exact (DWORD members, which DeclData uses to carry raw float
// bits); everything else becomes a float.
bool ParseNumber(std::string_view s, Value& v) {
    if (!s.empty() && s[0] == '+') s.remove_prefix(1);
    if (s.empty()) return false;
    bool digits = true;
    for (char c : s) digits = digits && c >= '0' && c <= '9';
    if (digits && s.size() <= 10) {
        uint64_t x = 0;
        std::from_chars(s.data(), s.data() + s.size(), x);
        if (x <= UINT32_MAX) {
            v.kind = Value::UInt;
            v.u = uint32_t(x);
            return true;
        }
    }
    double d = 0;
    auto r = std::from_chars(s.data(), s.data() + s.size(), d);
    if (r.ec != std::errc() || r.ptr != s.data() + s.size()) return false;
    v.kind = Value::Float;
    return ToFiniteFloat(d, v.f);
}

// "-12.345678", "854": the plain decimals that make up most of a text file, read in the same
// pass that finds the end of the word. Only a number that is the whole word is taken; anything
// else (an exponent, a '+', more than 15 digits, a word that goes on) returns false with pos
// unchanged and takes the general path, which gives the same value for every word taken here.
bool PlainNumber(const uint8_t* d, size_t n, size_t& pos, Value& v) {
    static constexpr double kPow10[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                        1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
    const bool negative = d[pos] == '-';
    size_t p = pos + negative;
    // Digits, then an optional '.' and more digits. m may wrap on a long run of digits; such a
    // number is refused below (more than 15 digits) before m is used.
    uint64_t m = 0;
    auto digitRun = [&] {
        const size_t from = p;
        while (p < n && uint8_t(d[p] - '0') < 10) m = m * 10 + uint64_t(d[p++] - '0');
        return int(std::min<size_t>(p - from, 16));
    };
    int digits = digitRun(), fraction = -1;
    if (p < n && d[p] == '.') {
        ++p;
        fraction = digitRun();
        digits += fraction;
    }
    if (digits == 0 || digits > 15 || (p < n && !kDelimiters[d[p]])) return false;
    if (!negative && fraction < 0 && digits <= 10 && m <= UINT32_MAX) {
        v.kind = Value::UInt; // exact, as DWORD members need
        v.u = uint32_t(m);
    } else {
        // Both the digits and the power of ten are exact in a double: one correct rounding.
        double x = double(m) / kPow10[fraction < 0 ? 0 : fraction];
        if (negative) x = -x;
        v.kind = Value::Float;
        v.f = float(x);
    }
    pos = p;
    return true;
}

// Moves past white space and comments (and separators when asked), counting lines.
void SkipSpace(const uint8_t* d, size_t n, size_t& pos, uint32_t& line, bool separators) {
    while (pos < n) {
        const uint8_t k = kSkip[d[pos]];
        if (k == kBlank || (k == kSeparator && separators)) {
            ++pos;
        } else if (k == kNewline) {
            ++line;
            ++pos;
        } else if (k == kComment || (k == kSlash && pos + 1 < n && d[pos + 1] == '/')) {
            while (pos < n && d[pos] != '\n') ++pos;
        } else {
            return;
        }
    }
}

} // namespace

bool ToFiniteFloat(double d, float& out) {
    if (!std::isfinite(d) || std::fabs(d) > double(FLT_MAX)) return false;
    out = float(d);
    return true;
}

std::string PlaceName(bool binary, bool compressed, uint32_t where) {
    std::string s = binary ? "byte offset " : "line ";
    s += std::to_string(where);
    if (compressed) s += " of the decompressed data";
    return s;
}

Lexer::Lexer(std::span<const uint8_t> data, bool binary, bool compressed, int floatBytes,
             uint32_t base)
    : data_(data), binary_(binary), compressed_(compressed), floatBytes_(floatBytes), base_(base) {}

bool Lexer::Fail(uint32_t where, const std::string& reason, std::string& error) const {
    error = Place(where) + ": " + reason;
    return false;
}

void Lexer::PlainNumbers(std::vector<Value>& out) {
    if (binary_) return;
    const uint8_t* d = data_.data();
    const size_t n = data_.size();
    size_t pos = pos_; // locals, so the loop keeps them in registers
    uint32_t line = line_;
    for (;;) {
        SkipSpace(d, n, pos, line, true);
        Value v;
        if (pos >= n || !MayStartNumber(d[pos]) || !PlainNumber(d, n, pos, v)) break;
        out.push_back(v);
    }
    pos_ = pos;
    line_ = line;
}

bool Lexer::NextText(Token& t, std::string& error) {
    const uint8_t* d = data_.data();
    const size_t n = data_.size();
    SkipSpace(d, n, pos_, line_, false);
    if (pos_ >= n) {
        t.kind = Tok::End;
        t.where = line_;
        return true;
    }
    t.where = line_;
    const uint8_t c = d[pos_];
    switch (c) {
    case '{':
        t.kind = Tok::LBrace;
        ++pos_;
        return true;
    case '}':
        t.kind = Tok::RBrace;
        ++pos_;
        return true;
    case ';':
    case ',':
        t.kind = Tok::Separator;
        ++pos_;
        return true;
    case '[':
    case ']':
    case '(':
    case ')':
    case '>':
        t.kind = Tok::Other;
        ++pos_;
        return true;
    case '<': {
        size_t end = pos_ + 1;
        while (end < n && d[end] != '>' && d[end] != '\n') ++end;
        if (end >= n || d[end] != '>') return Fail(line_, "unterminated GUID", error);
        t.kind = Tok::Guid;
        t.text = std::string_view(reinterpret_cast<const char*>(d + pos_ + 1), end - pos_ - 1);
        pos_ = end + 1;
        return true;
    }
    case '"': {
        size_t end = pos_ + 1;
        uint32_t lines = 0;
        while (end < n && d[end] != '"') lines += d[end++] == '\n';
        if (end >= n) return Fail(line_, "unterminated string", error);
        t.kind = Tok::String;
        t.text = std::string_view(reinterpret_cast<const char*>(d + pos_ + 1), end - pos_ - 1);
        line_ += lines;
        pos_ = end + 1;
        return true;
    }
    default:
        break;
    }
    const size_t start = pos_;
    if (MayStartNumber(c) && PlainNumber(d, n, pos_, t.number)) {
        t.kind = Tok::Number;
        t.text = std::string_view(reinterpret_cast<const char*>(d + start), pos_ - start);
        return true;
    }
    for (; pos_ < n; ++pos_) { // one table look-up per byte of a word
        const uint8_t k = kWordEnd[d[pos_]];
        if (k == 0) continue;
        if (k == 1 || (k == 2 && pos_ + 1 < n && d[pos_ + 1] == '/')) break;
        if (k == 3) {
            char msg[48];
            std::snprintf(msg, sizeof msg, "unexpected byte 0x%02x", d[pos_]);
            return Fail(line_, msg, error);
        }
    }
    t.text = std::string_view(reinterpret_cast<const char*>(d + start), pos_ - start);
    const char first = t.text[0];
    if ((first >= '0' && first <= '9') || first == '-' || first == '+' || first == '.') {
        if (ParseNumber(t.text, t.number)) {
            t.kind = Tok::Number;
            return true;
        }
        // Not a number after all ("3ds_root"): a name, which only fits where names do.
    }
    t.kind = t.text == "template" ? Tok::Template : Tok::Name;
    return true;
}

bool Lexer::NextBinary(Token& t, std::string& error) {
    const uint8_t* d = data_.data();
    const size_t n = data_.size();
    t.where = base_ + uint32_t(pos_);
    if (pos_ >= n) {
        t.kind = Tok::End;
        return true;
    }
    if (n - pos_ < 2) return Fail(t.where, "truncated token", error);
    const uint16_t code = ReadU16(d + pos_);
    pos_ += 2;
    auto need = [&](size_t bytes) { return n - pos_ >= bytes; };
    switch (code) {
    case kName:
    case kString: {
        if (!need(4)) return Fail(t.where, "truncated name or string length", error);
        const uint32_t len = ReadU32(d + pos_);
        pos_ += 4;
        if (!need(len))
            return Fail(t.where,
                        "name or string of " + std::to_string(len) + " bytes runs past the end",
                        error);
        t.kind = code == kName ? Tok::Name : Tok::String;
        t.text = std::string_view(reinterpret_cast<const char*>(d + pos_), len);
        pos_ += len;
        // Some writers end a string with a 32-bit separator token rather than a 16-bit one.
        if (code == kString && need(4)) {
            const uint16_t sep = ReadU16(d + pos_);
            if ((sep == kSemicolon || sep == kComma) && ReadU16(d + pos_ + 2) == 0) pos_ += 4;
        }
        return true;
    }
    case kInteger:
        if (!need(4)) return Fail(t.where, "truncated integer", error);
        t.kind = Tok::Number;
        t.number.kind = Value::UInt;
        t.number.u = ReadU32(d + pos_);
        pos_ += 4;
        return true;
    case kGuid:
        if (!need(16)) return Fail(t.where, "truncated GUID", error);
        t.kind = Tok::Guid;
        pos_ += 16;
        return true;
    case kIntegerList:
    case kFloatList: {
        if (!need(4)) return Fail(t.where, "truncated list count", error);
        const uint32_t count = ReadU32(d + pos_);
        pos_ += 4;
        const size_t size = code == kIntegerList ? 4 : size_t(floatBytes_);
        if (count > (n - pos_) / size)
            return Fail(t.where, "list of " + std::to_string(count) + " values runs past the end",
                        error);
        t.kind = code == kIntegerList ? Tok::IntList : Tok::FloatList;
        t.list = d + pos_;
        t.count = count;
        pos_ += size_t(count) * size;
        return true;
    }
    case kOBrace:
        t.kind = Tok::LBrace;
        return true;
    case kCBrace:
        t.kind = Tok::RBrace;
        return true;
    case kComma:
    case kSemicolon:
        t.kind = Tok::Separator;
        return true;
    case kTemplate:
        t.kind = Tok::Template;
        return true;
    default:
        if ((code >= kOParen && code <= kDot) || (code >= kWord && code <= kArray)) {
            t.kind = Tok::Other;
            return true;
        }
        return Fail(t.where, "unknown token code " + std::to_string(code), error);
    }
}

} // namespace xfile
