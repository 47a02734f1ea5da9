// The structural parser: header, templates (skipped: the semantic layer knows the layout of
// the templates it reads), data objects with their values, children and references.
#include "platform/xfile/xparse.h"

#include "platform/xfile/xlex.h"

#include <algorithm>

#include <cstring>

namespace xfile {

namespace {

constexpr uint32_t kNone = UINT32_MAX;

class Parser {
  public:
    Parser(Lexer& lex, KeepType keep, Document& doc, std::string& error, size_t dataBytes)
        : lex_(lex), keep_(keep), doc_(doc), error_(error),
          budget_(std::min(kDocumentBytesPerByte * dataBytes + kDocumentBytesExtra,
                           kMaxDocumentBytes)) {}

    bool Run() {
        Token t;
        for (;;) {
            if (!Take(t)) return false;
            switch (t.kind) {
            case Tok::End:
                return true;
            case Tok::Separator:
                continue;
            case Tok::Template:
                if (!SkipTemplate(t)) return false;
                continue;
            case Tok::Name:
                if (!ParseObject(t, 1, true, kNone)) return false;
                continue;
            default:
                return Fail(t.where, "expected a template or a data object");
            }
        }
    }

  private:
    bool Take(Token& t) { return lex_.Next(t, error_); }

    bool Fail(uint32_t where, const std::string& reason) {
        error_ = lex_.Place(where) + ": " + reason;
        return false;
    }

    // Counts what the document keeps for the data read so far: each check comes before the
    // storage is made, but for a run of text numbers, which is counted when read (it takes at
    // most four times the bytes it is read from).
    bool Charge(uint32_t where, uint64_t bytes) {
        used_ += bytes;
        if (used_ <= budget_) return true;
        return Fail(where, "the document needs more than " + std::to_string(budget_ >> 20) +
                               " MiB, the most its size allows");
    }

    bool SkipTemplate(const Token& keyword) {
        Token t;
        if (!Take(t)) return false;
        if (t.kind != Tok::Name) return Fail(t.where, "expected a template name");
        const std::string name(t.text);
        if (!Take(t)) return false;
        if (t.kind != Tok::LBrace) return Fail(t.where, "expected '{' after template " + name);
        for (;;) {
            if (!Take(t)) return false;
            if (t.kind == Tok::RBrace) return true;
            if (t.kind == Tok::End)
                return Fail(keyword.where, "template " + name + " is not closed");
            if (t.kind == Tok::LBrace || t.kind == Tok::Template)
                return Fail(t.where, "unexpected token inside template " + name);
        }
    }

    // Links a new object under parent (or at top level) and sets its index; textBytes are its
    // type and name. The object records are charged by the room the list reserves, which
    // doubles, so that its slack counts too.
    bool NewObject(uint32_t parent, uint32_t where, size_t textBytes, uint32_t& index) {
        std::vector<DataObject>& objects = doc_.objects;
        uint64_t bytes = sizeof(uint32_t) + textBytes; // with its index in the parent's list
        const size_t room = objects.size() == objects.capacity()
                                ? std::max<size_t>(64, 2 * objects.capacity())
                                : objects.capacity();
        bytes += (room - objects.capacity()) * sizeof(DataObject);
        if (!Charge(where, bytes)) return false;
        objects.reserve(room);
        index = uint32_t(objects.size());
        objects.emplace_back();
        if (parent == kNone)
            doc_.top.push_back(index);
        else
            doc_.objects[parent].children.push_back(index);
        return true;
    }

    bool ParseObject(const Token& typeTok, int depth, bool keep, uint32_t parent) {
        const std::string_view type = typeTok.text;
        if (depth > kMaxDepth)
            return Fail(typeTok.where,
                        "objects nested deeper than " + std::to_string(kMaxDepth) + " levels");
        Token t;
        if (!Take(t)) return false;
        std::string_view name;
        if (t.kind == Tok::Name) {
            name = t.text;
            if (!Take(t)) return false;
        }
        if (t.kind != Tok::LBrace)
            return Fail(t.where, "expected '{' after '" + std::string(type) + "'");
        keep = keep && (!keep_ || keep_(type));
        uint32_t self = kNone;
        if (keep) {
            if (!NewObject(parent, typeTok.where, type.size() + name.size(), self)) return false;
            DataObject& o = doc_.objects[self];
            o.type = type;
            o.name = name;
            o.where = typeTok.where;
        }
        for (;;) {
            if (!Take(t)) return false;
            switch (t.kind) {
            case Tok::RBrace:
                return true;
            case Tok::End:
                return Fail(typeTok.where,
                            "'" + std::string(type) + "' is not closed before the end of the file");
            case Tok::Separator:
            case Tok::Guid:
                continue;
            case Tok::Number:
                if (keep) {
                    std::vector<Value>& values = doc_.objects[self].values;
                    const size_t before = values.size();
                    values.push_back(t.number);
                    lex_.PlainNumbers(values); // the rest of a run of numbers, in one call
                    if (!Charge(t.where, (values.size() - before) * sizeof(Value))) return false;
                }
                continue;
            case Tok::IntList:
                if (keep && !Charge(t.where, uint64_t(t.count) * sizeof(Value))) return false;
                if (keep) AppendInts(doc_.objects[self], t);
                continue;
            case Tok::FloatList:
                if (keep && !Charge(t.where, uint64_t(t.count) * sizeof(Value))) return false;
                if (keep && !AppendFloats(doc_.objects[self], t)) return false;
                continue;
            case Tok::String:
                if (keep) {
                    if (!Charge(t.where, sizeof(Value) + sizeof(std::string) + t.text.size()))
                        return false;
                    DataObject& o = doc_.objects[self];
                    Value v{};
                    v.kind = Value::String;
                    v.str = uint32_t(o.strings.size());
                    o.strings.emplace_back(t.text);
                    o.values.push_back(v);
                }
                continue;
            case Tok::Name:
                if (!ParseObject(t, depth + 1, keep, self)) return false;
                continue;
            case Tok::LBrace:
                if (!ParseReference(keep ? self : kNone, keep)) return false;
                continue;
            default:
                return Fail(t.where, "unexpected token inside '" + std::string(type) + "'");
            }
        }
    }

    // After '{' inside an object: `Name }`, `Name <GUID> }` or `<GUID> }`.
    bool ParseReference(uint32_t parent, bool keep) {
        Token t;
        if (!Take(t)) return false;
        const uint32_t where = t.where;
        std::string_view name;
        if (t.kind == Tok::Name) {
            name = t.text;
            if (!Take(t)) return false;
        }
        if (t.kind == Tok::Guid && !Take(t)) return false;
        if (t.kind != Tok::RBrace) return Fail(t.where, "expected '}' to close a reference");
        if (keep && !name.empty()) {
            uint32_t index;
            if (!NewObject(parent, where, name.size(), index)) return false;
            DataObject& o = doc_.objects[index];
            o.isReference = true;
            o.name = name;
            o.where = where;
        }
        return true;
    }

    // Room for count more values, growing geometrically: a file may split a member into many
    // short lists, and an exact reserve per list would copy the values again for each.
    static void Reserve(DataObject& o, uint32_t count) {
        const size_t need = o.values.size() + count;
        if (need > o.values.capacity()) o.values.reserve(std::max(need, 2 * o.values.capacity()));
    }

    // Binary lists are copied in one pass each: room made once, then every word converted.
    static void AppendInts(DataObject& o, const Token& t) {
        Reserve(o, t.count);
        const size_t at = o.values.size();
        o.values.resize(at + t.count);
        Value* out = o.values.data() + at;
        for (uint32_t i = 0; i < t.count; ++i) {
            out[i].kind = Value::UInt;
            out[i].u = ReadU32(t.list + size_t(i) * 4);
        }
    }

    bool AppendFloats(DataObject& o, const Token& t) {
        Reserve(o, t.count);
        const size_t at = o.values.size();
        o.values.resize(at + t.count);
        Value* out = o.values.data() + at;
        const bool wide = doc_.floatBytes == 8;
        for (uint32_t i = 0; i < t.count; ++i) {
            out[i].kind = Value::Float;
            bool finite;
            if (wide) {
                const uint64_t bits = uint64_t(ReadU32(t.list + size_t(i) * 8)) |
                                      (uint64_t(ReadU32(t.list + size_t(i) * 8 + 4)) << 32);
                double d;
                std::memcpy(&d, &bits, 8);
                finite = ToFiniteFloat(d, out[i].f);
            } else {
                // A 32-bit float is finite (and so within float range) unless its exponent is
                // all ones; it is kept bit for bit.
                const uint32_t bits = ReadU32(t.list + size_t(i) * 4);
                finite = (bits & 0x7f800000u) != 0x7f800000u;
                std::memcpy(&out[i].f, &bits, 4);
            }
            if (!finite) {
                o.values.resize(at + i);
                return Fail(t.where, "float list holds a value that is not a finite float");
            }
        }
        return true;
    }

    Lexer& lex_;
    KeepType keep_;
    Document& doc_;
    std::string& error_;
    uint64_t budget_;
    uint64_t used_ = 0;
};

} // namespace

std::string Document::Where(uint32_t where) const {
    return PlaceName(binary, compressed, where);
}

bool ParseDocument(std::span<const uint8_t> file, KeepType keep, Document& doc,
                   std::string& error) {
    doc = Document{};
    if (file.size() < 16 || std::memcmp(file.data(), "xof ", 4) != 0) {
        error = "byte offset 0: not an .x file (no 'xof ' header)";
        return false;
    }
    const std::string_view format(reinterpret_cast<const char*>(file.data()) + 8, 4);
    const std::string_view floatSize(reinterpret_cast<const char*>(file.data()) + 12, 4);
    if (format == "txt " || format == "tzip") {
        doc.binary = false;
    } else if (format == "bin " || format == "bzip") {
        doc.binary = true;
    } else {
        error = "byte offset 8: unknown format '" + std::string(format) + "'";
        return false;
    }
    doc.compressed = format[1] == 'z';
    if (floatSize == "0064") {
        doc.floatBytes = 8;
    } else if (floatSize == "0032" || !doc.binary) {
        doc.floatBytes = 4;
    } else {
        error = "byte offset 12: unknown float size '" + std::string(floatSize) + "'";
        return false;
    }

    std::vector<uint8_t> inflated;
    std::span<const uint8_t> body = file.subspan(16);
    uint32_t base = 16;
    if (doc.compressed) {
        if (!InflateBlocks(body, inflated, error)) return false;
        body = inflated;
        base = 0;
    }
    Lexer lex(body, doc.binary, doc.compressed, doc.floatBytes, base);
    Parser parser(lex, keep, doc, error, body.size());
    return parser.Run();
}

} // namespace xfile
