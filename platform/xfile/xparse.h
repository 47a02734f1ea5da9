// The .x container formats (text, binary, and either of them zlib-compressed) read into one
// tree of data objects. Every object keeps its members as a flat list of values: text numbers,
// binary integer and float lists and strings all end up there, with the separators and the
// nesting of structured members dropped. The semantic layer (xscene.h) then reads the templates
// it knows member by member, the same way for every format.
//
// Everything here treats the input as hostile: counts are checked against the bytes that remain,
// nesting is bounded, and a failure is one message naming the place and the reason.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace xfile {

constexpr int kMaxDepth = 64;                              // nested braces, templates included
constexpr size_t kMaxDecompressedBytes = size_t(64) << 20; // refuse compressed files beyond this
// What the parsed document may take (objects, values, strings), against the bytes it is read
// from (inflated, for compressed files): kDocumentBytesPerByte times those plus a constant,
// capped. Large real models take about one byte per byte read, small ones with many objects up
// to five (all within the constant); a reference `{a}` takes some 150 from 3, and a file of them,
// compressed, would otherwise turn 100 KB into gigabytes.
constexpr uint64_t kDocumentBytesPerByte = 8;
constexpr uint64_t kDocumentBytesExtra = uint64_t(64) << 20;
constexpr uint64_t kMaxDocumentBytes = uint64_t(512) << 20;

// One member value, eight bytes so that large meshes stay compact.
struct Value {
    enum Kind : uint32_t { UInt, Float, String };
    Kind kind;
    union {
        uint32_t u;   // UInt: a non-negative integer
        float f;      // Float: every other number (64-bit floats are narrowed)
        uint32_t str; // String: index into DataObject::strings
    };
};

struct DataObject {
    std::string type;         // template name ("Mesh", "Frame", ...); empty for a reference
    std::string name;         // object name, or the referenced name for a reference
    bool isReference = false; // `{ Name }` inside another object
    uint32_t where = 0;       // line (text) or byte offset (binary) where the object starts
    std::vector<Value> values;
    std::vector<std::string> strings;
    std::vector<uint32_t> children; // indices into Document::objects, in file order
};

struct Document {
    bool binary = false;
    bool compressed = false;
    int floatBytes = 4;
    std::vector<DataObject> objects;
    std::vector<uint32_t> top; // top-level objects in file order

    // "line 12" or "byte offset 345", as error messages name a place.
    std::string Where(uint32_t where) const;
};

// Decides which data objects are kept; the others are skipped whole (still checked for
// well-formedness). Null keeps everything.
using KeepType = bool (*)(std::string_view type);

// Reads a whole file image. On failure returns false and sets error to "<place>: <reason>".
bool ParseDocument(std::span<const uint8_t> file, KeepType keep, Document& doc, std::string& error);

// The compressed formats: after the 16-byte header a 32-bit total size, then blocks of
// (16-bit uncompressed size, 16-bit compressed size, "CK", raw deflate data), each block's
// window carried into the next as its dictionary. Appends the inflated bytes to out.
bool InflateBlocks(std::span<const uint8_t> afterHeader, std::vector<uint8_t>& out,
                   std::string& error);

} // namespace xfile
