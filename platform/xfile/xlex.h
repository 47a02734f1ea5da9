// Tokens of the text and the binary .x format, as one stream: the parser above does not care
// which format it reads. Internal to platform/xfile.
#pragma once

#include "platform/xfile/xparse.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace xfile {

enum class Tok : uint8_t {
    End,
    Name,
    String,
    Number,    // one text number or binary INTEGER
    IntList,   // binary INTEGER_LIST: count little-endian 32-bit words at list
    FloatList, // binary FLOAT_LIST: count floats of floatBytes each at list
    LBrace,
    RBrace,
    Guid,
    Separator, // ';' or ','
    Template,
    Other, // brackets, dots, type keywords: only meaningful inside templates
};

struct Token {
    Tok kind = Tok::End;
    uint32_t where = 0;    // line or byte offset
    std::string_view text; // Name, String, Guid
    Value number{};        // Number
    const uint8_t* list = nullptr;
    uint32_t count = 0;
};

// "line 12" / "byte offset 345", with " of the decompressed data" for compressed files.
std::string PlaceName(bool binary, bool compressed, uint32_t where);

class Lexer {
  public:
    // base: byte offset of data within the file, so binary places name file offsets.
    Lexer(std::span<const uint8_t> data, bool binary, bool compressed, int floatBytes,
          uint32_t base);

    // False on a malformed token; error then holds "<place>: <reason>".
    bool Next(Token& tok, std::string& error) {
        tok = Token{};
        return binary_ ? NextBinary(tok, error) : NextText(tok, error);
    }
    std::string Place(uint32_t where) const { return PlaceName(binary_, compressed_, where); }
    // Text inside an object: appends the plain numbers that come next, skipping the separators
    // between them, and stops before anything else (left for Next). Does nothing for binary.
    void PlainNumbers(std::vector<Value>& out);

  private:
    bool NextText(Token& tok, std::string& error);
    bool NextBinary(Token& tok, std::string& error);
    bool Fail(uint32_t where, const std::string& reason, std::string& error) const;

    std::span<const uint8_t> data_;
    size_t pos_ = 0;
    uint32_t line_ = 1;
    bool binary_;
    bool compressed_;
    int floatBytes_;
    uint32_t base_;
};

inline uint16_t ReadU16(const uint8_t* p) {
    return uint16_t(p[0] | (p[1] << 8));
}
inline uint32_t ReadU32(const uint8_t* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

// Narrows a number to float; false when it is not finite or beyond float range.
bool ToFiniteFloat(double d, float& out);

} // namespace xfile
