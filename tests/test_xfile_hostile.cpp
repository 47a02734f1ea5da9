// Broken and hostile .x input: every file is refused with a message naming the place and the
// reason, never a crash, a hang or an allocation driven by an unchecked count.
#include "test_xfile_util.h"

#include <cstdio>
#include <utility>

using namespace xtest;
using xfile::Scene;

namespace {

struct Refusal {
    std::vector<uint8_t> input;
    std::string reason;          // part of the message
    const char* place = nullptr; // how the message starts: "line N", "byte offset N"
};

void ExpectRefused(const Refusal& r) {
    Scene s;
    std::string error;
    EXPECT_FALSE(Read(r.input, s, &error)) << "accepted; expected: " << r.reason;
    EXPECT_NE(error.find(r.reason), std::string::npos) << r.reason << " not in: " << error;
    if (r.place) {
        EXPECT_EQ(error.rfind(r.place, 0), 0u) << "message: " << error;
    }
}

std::vector<uint8_t> T(const std::string& body) {
    return Bytes(Text(body));
}

// A text file holding one triangle mesh with the given faces and child objects.
std::vector<uint8_t> Tri(const std::string& children, const std::string& faces = "1; 3;0,1,2;;") {
    return T("Mesh t {\n3; 0;0;0;, 1;0;0;, 0;1;0;;\n" + faces + "\n" + children + "\n}\n");
}

std::vector<uint8_t> Faces(const std::string& faces) {
    return Tri("", faces);
}

// Objects nested depth deep, one opening line each.
std::vector<uint8_t> Nested(int depth, const char* type) {
    std::string s;
    for (int i = 0; i < depth; ++i) s += std::string(type) + " f" + std::to_string(i) + " {\n";
    return T(s + std::string(depth, '}'));
}

bool Accepted(const std::vector<uint8_t>& bytes) {
    Scene s;
    return Read(bytes, s);
}

// Where the last top-level object of a file starts and ends: a file cut between top-level
// objects is a shorter valid file, one cut inside an object is broken.
std::pair<size_t, size_t> LastObject(const std::vector<uint8_t>& b) {
    if (b[8] == 'b' && b[9] == 'i') {
        // Binary: the last top-level object of the shared files is the frame "Root".
        const std::string pattern = std::string("\1\0\5\0\0\0Frame\1\0\4\0\0\0Root", 21);
        const auto it = std::search(b.begin(), b.end(), pattern.begin(), pattern.end());
        return {size_t(it - b.begin()), b.size()};
    }
    if (b[9] == 'z') return {16, b.size()}; // compressed: every cut breaks a block
    size_t end = b.size();
    while (b[end - 1] != '}') --end;
    size_t start = end - 1;
    for (int depth = 0;; --start) {
        depth += b[start] == '}' ? 1 : b[start] == '{' ? -1 : 0;
        if (depth == 0) break;
    }
    return {start, end - 1};
}

} // namespace

TEST(XFileHostile, EveryTruncationOfTheSharedFilesIsRefused) {
    for (const char* name : {"test_cube_text.x", "test_cube_binary.x", "test_cube_compressed.x",
                             "kwxport_test_cubewithvcolors.x", "Testwuson.X"}) {
        const std::vector<uint8_t> full = ReadBytes(SharedFile(name));
        ASSERT_TRUE(Accepted(full)) << name;
        const auto [start, end] = LastObject(full);
        ASSERT_LT(start, end) << name;
        // Every byte of the small files; a sample of cuts through the large one.
        const size_t cuts = std::clamp<size_t>(20000000 / full.size(), 60, 3000);
        const size_t step = std::max<size_t>(1, (end - start) / cuts);
        for (size_t len = start + 1; len < end; len += step) {
            Scene s;
            std::string error;
            ASSERT_FALSE(Read({full.begin(), full.begin() + len}, s, &error))
                << name << " cut at " << len;
            EXPECT_TRUE(error.rfind("line ", 0) == 0 || error.rfind("byte offset ", 0) == 0)
                << name << " cut at " << len << ": " << error;
        }
    }
}

TEST(XFileHostile, HeadersTokensAndNestingThatAreNotXAreRefused) {
    BinaryWriter token, nan;
    token.Open("Frame", "A");
    token.U16(99);
    nan.Open("Mesh");
    nan.Ints({1});
    nan.Floats({0, std::nan(""), 0});
    nan.Close();
    EXPECT_TRUE(Accepted(Nested(60, "Frame")));
    const Refusal cases[] = {
        {Bytes("xof 03"), "not an .x file", "byte offset 0"},
        {Bytes("PK\3\4 0303txt 0032 Frame {}"), "not an .x file"},
        {Bytes("xof 0303xml 0032\n"), "unknown format"},
        {Bytes("xof 0303bin 0016"), "unknown float size"},
        {T("Frame A {\n \"never closed }\n"), "unterminated string", "line 3"},
        {T("Frame A { <abc\n }"), "unterminated GUID", "line 2"},
        {T("Frame A {\n\n bad\x01name { } }"), "unexpected byte 0x01", "line 4"},
        {T("Frame A { Frame B }"), "expected '{'"},
        {T("} Frame A { }"), "expected a template or a data object"},
        {T("template T { <1-2-3-4-5> DWORD x;"), "template T is not closed"},
        {T("Frame A { { B C } }"), "expected '}' to close a reference"},
        {token.out, "unknown token code 99", "byte offset "},
        {nan.out, "not a finite float"},
        // Deep nesting is refused without exhausting the stack, skipped objects too.
        {Nested(65, "Frame"), "nested deeper than 64 levels", "line 66"},
        {Nested(100000, "Frame"), "nested deeper than 64 levels"},
        {Nested(100000, "Unknown"), "nested deeper than 64 levels"},
        {T("Frame A {" + std::string(100000, '{')), "expected '}' to close a reference"},
    };
    for (const Refusal& r : cases) ExpectRefused(r);
}

TEST(XFileHostile, CountsAndIndicesBeyondTheDataAreRefusedBeforeAllocating) {
    BinaryWriter list, name;
    list.Open("Mesh");
    list.U16(6);
    list.U32(0x40000000); // an integer list of a billion entries in a few bytes
    list.U32(1);
    name.U16(1);
    name.U32(0xFFFFFFF0);
    const std::string mat = "Material { 1;1;1;1;; 0; 0;0;0;; 0;0;0;; }";
    const std::string id = "1,0,0,0,0,1,0,0,0,0,1,0,0,0,0,1;;";
    const Refusal cases[] = {
        {T("Mesh m { 4000000000; 0;0;0;; 0;; }"), "vertex count 4000000000 exceeds", "line 2"},
        {Faces("1; 4294967295;0,1,2;;"), "corner count 4294967295 exceeds"},
        {Faces("99999999; 3;0,1,2;;"), "face count 99999999 exceeds"},
        {Tri("MeshMaterialList { 1; 3000000000; 0;; " + mat + " }"),
         "face index count 3000000000 exceeds"},
        {Tri("SkinWeights { \"b\"; 1000000; 0; 1; }"), "weight count 1000000 exceeds"},
        {T("AnimationSet s { Animation a { { F } AnimationKey { 2; 500000000; 0;3;0,0,0;;; } } }"),
         "key count 500000000 exceeds"},
        {Tri("DeclData { 1; 2;0;3;0;; 5; 1,2,3,4,5; }"), "holds 5 words, its elements need 9"},
        {list.out, "list of 1073741824 values runs past the end", "byte offset 28"},
        {name.out, "runs past the end", "byte offset 16"},
        // Indices outside their arrays.
        {Faces("1; 3;0,1,3;;"), "face 0 names index 3 of 3"},
        {Tri("MeshNormals { 1; 0;0;1;; 1; 3;0,0,1;; }"), "face 0 names index 1 of 1"},
        {Tri("MeshNormals { 1; 0;0;1;; 2; 3;0,0,0;, 3;0,0,0;; }"), "gives 2 faces, the mesh has 1"},
        {Tri("MeshNormals { 1; 0;0;1;; 1; 4;0,0,0,0;; }"), "another corner count"},
        {Tri("MeshTextureCoords { 2; 0;0;, 1;1;; }"), "gives 2 coordinates for 3 vertices"},
        {Tri("MeshVertexColors { 1; 3;1;1;1;1;;; }"), "colour 0 names vertex 3 of 3"},
        {Tri("SkinWeights { \"b\"; 1; 7; 1.0; " + id + " }"), "weights vertex 7 of 3"},
        {Tri("MeshMaterialList { 1; 1; 1; " + mat + " }"), "face material 1 of 1 materials"},
        {Tri("MeshMaterialList { 2; 1; 0; " + mat + " }"), "declares 2 materials and holds 1"},
        {Tri("MeshMaterialList { 1; 1; 0; { Missing } }"), "names no material defined in the file"},
        {Tri("DeclData { 1; 99;0;3;0;; 0; }"), "unknown type 99"},
        // Members of the wrong kind or size.
        {T("Frame A { FrameTransformMatrix { 1,0,0,0; } }"), "ends early", "line 2"},
        {T("Frame A { FrameTransformMatrix { \"one\"; } }"), "is a string, not a number"},
        {T("Mesh m { -3; }"), "is not an unsigned integer"},
        {T("AnimationSet s { Animation a { AnimationKey { 7; 1; 0;1;0;;; } } }"),
         "unknown key type 7"},
        {T("AnimationSet s { Animation a { AnimationKey { 0; 1; 0;3;0,0,0,0;;; } } }"),
         "key 0 holds 3 values, key type 0 needs 4"},
        {Tri("MeshMaterialList { 1; 1; 0; Material { 1;1;1;1;; 0; 0;0;0;; 0;0;0;; "
             "TextureFilename { \"" +
             std::string(2000, 'a') + "\"; } } }"),
         "texture name longer than 1024 bytes"},
    };
    for (const Refusal& r : cases) ExpectRefused(r);
}

TEST(XFileHostile, BrokenCompressedBlocksAreRefused) {
    const std::vector<uint8_t> good = ReadBytes(SharedFile("test_cube_compressed.x"));
    ASSERT_TRUE(Accepted(good));
    auto patched = [&](size_t at, std::initializer_list<uint8_t> bytes) {
        std::vector<uint8_t> b = good;
        std::copy(bytes.begin(), bytes.end(), b.begin() + at);
        return b;
    };
    std::vector<uint8_t> extra = good;
    extra.insert(extra.end(), {1, 0, 3});
    // A block that inflates but whose content is cut: refused by the reader after inflating.
    const std::vector<uint8_t> text = ReadBytes(SharedFile("test_cube_text.x"));
    // Layout: header 0..15, total size 16..19, block: plain 20..21, packed 22..23, "CK" 24..25.
    const Refusal cases[] = {
        {patched(24, {'X', 'K'}), "lacks its 'CK' mark", "byte offset 20"},
        {patched(22, {0xFF, 0xFF}), "compressed bytes runs past the end"},
        {patched(22, {1, 0}), "compressed bytes runs past the end"},
        {patched(20, {0, 0}), "empty block"},
        {patched(26, {0xFF, 0xFF, 0xFF}), "not valid deflate data"},
        {patched(20, {0x10, 0x00}), "inflates to more than its declared 16 bytes"},
        {patched(20, {0xFA, 0x0A}), "block inflates to 2800 bytes, not the declared 2810"},
        {patched(16, {0x00, 0x01, 0, 0}), "blocks inflate to more than the declared 256 bytes"},
        {patched(16, {0x00, 0x00, 0x00, 0x10}), "more than the 64 MiB accepted"},
        {patched(16, {0x00, 0x0C, 0, 0}), "blocks inflate to 2800 bytes, the header declares 3072"},
        {extra, "truncated block header"},
        {{good.begin(), good.begin() + 18}, "lacks its size field"},
        {Compress({text.begin(), text.begin() + 3000}), "is not closed before the end of the file",
         "line "},
    };
    for (const Refusal& r : cases) ExpectRefused(r);
}

TEST(XFileHostile, RepeatedReferencesCannotBlowUpTheModel) {
    // One mesh of 2000 vertices placed 200000 times: far beyond the 512 MiB a model may take.
    std::string mesh = "Mesh big {\n2000;\n";
    for (int i = 0; i < 2000; ++i) mesh += "0;0;0;,\n";
    mesh.back() = ';';
    mesh += "\n1; 3;0,1,2;;\n}\nFrame F {\n";
    for (int i = 0; i < 200000; ++i) mesh += "{big}";
    ExpectRefused({T(mesh + "}\n"), "the model needs more than 512 MiB"});
}

TEST(XFileHostile, FuzzerFindingsStayFixed) {
    // Normals with a face list of corner-less faces, and fewer normals than vertices: once
    // read as one normal per vertex, past the end of the normals.
    Scene s;
    std::string error;
    ASSERT_TRUE(Read(T("Mesh m { 4; 0;0;0;, 1;0;0;, 0;1;0;, 1;1;0;; 2; 0;, 0;;\n"
                       "MeshNormals { 1; 0;0;1;; 2; 0;, 0;; } }"),
                     s, &error))
        << error;
    EXPECT_TRUE(s.meshes[0].indices.empty());
    EXPECT_EQ(s.meshes[0].vertices[3].normal[2], 0.0f);
}

TEST(XFileHostile, LoadersReportOneLineNamingFileAndPlace) {
    const std::string path = testing::TempDir() + "duoscope_broken.x";
    std::ofstream(path, std::ios::binary) << Text(
        "Frame A {\n  Mesh m {\n    3; 0;0;0;, 1;0;0;, 0;1;0;;\n    1; 3;0,1,9;;\n  }\n}\n");
    Loaded l;
    l.root = reinterpret_cast<D3DXFRAME*>(&l.allocator); // must be overwritten
    MeshPtr mesh;
    testing::internal::CaptureStderr();
    EXPECT_EQ(l.File(path), E_FAIL);
    for (const std::string& file : {path, std::string("/nonexistent/room.x")})
        EXPECT_EQ(
            D3DXLoadMeshFromXA(file.c_str(), 0, nullptr, nullptr, nullptr, nullptr, nullptr, &mesh),
            E_FAIL);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(std::exchange(l.root, nullptr), nullptr); // never left pointing at the garbage
    EXPECT_EQ(mesh, nullptr);
    EXPECT_TRUE(l.allocator.calls.empty()); // nothing is created from a file that fails to read
    const std::string line = path + ": line 3: Mesh 'm': face 0 names index 9 of 3\n";
    EXPECT_EQ(err, line + line + "/nonexistent/room.x: cannot open the file\n");
    std::remove(path.c_str());
}
