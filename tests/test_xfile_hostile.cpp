// Broken and hostile .x input: every file is refused with a message naming the place and the
// reason, never a crash, a hang or an allocation driven by an unchecked count.
#include "support/viewer_process.h"
#include "test_xfile_util.h"

#include <sys/stat.h>

#include <new>
#include <tuple>
#include <utility>

using namespace xtest;

namespace {

std::string Outcome(const std::vector<uint8_t>& bytes) {
    xfile::Scene s;
    std::string error;
    return xfile::ReadScene(bytes, s, error) ? "accepted" : error;
}

// Where the last top-level object of a file starts and ends: a file cut between top-level
// objects is a shorter valid file, one cut inside an object is broken. Compressed files break
// wherever they are cut after the header.
std::pair<size_t, size_t> LastObject(const std::vector<uint8_t>& b) {
    if (b[9] == 'z') return {16, b.size()};
    if (b[8] == 'b') { // binary: the files here end with their animation set, or have one frame
        auto token = [&](const std::string& name) {
            return std::string("\1\0", 2) + char(name.size()) + std::string(3, '\0') + name;
        };
        const std::string set = token("AnimationSet"), frame = token("Frame");
        auto it = std::find_end(b.begin(), b.end(), set.begin(), set.end());
        if (it == b.end()) it = std::search(b.begin(), b.end(), frame.begin(), frame.end());
        return {size_t(it - b.begin()), b.size()};
    }
    size_t end = b.size();
    while (b[end - 1] != '}') --end;
    size_t start = end - 1;
    for (int depth = 1; depth > 0;) depth += b[--start] == '}' ? 1 : b[start] == '{' ? -1 : 0;
    return {start, end - 1};
}

} // namespace

TEST(XFileHostile, EveryCorpusFileGivesItsManifestLine) {
    // tests/fuzz/corpus/xfile-refusals.txt: "<file>: <the reader's one line>".
    std::ifstream manifest(std::string(DUO_SOURCE_DIR) + "/tests/fuzz/corpus/xfile-refusals.txt");
    int files = 0;
    for (std::string line; std::getline(manifest, line);) {
        if (line.empty() || line[0] == '#') continue;
        const size_t colon = line.find(": ");
        ASSERT_NE(colon, std::string::npos) << line;
        const std::string name = line.substr(0, colon);
        EXPECT_EQ(name + ": " + Outcome(ReadBytes(Corpus(name))), line);
        ++files;
    }
    EXPECT_EQ(files, 54);
}

TEST(XFileHostile, DeepNestingAndRepeatedReferencesAreRefused) {
    // Too deep for a recursive reader's stack, skipped objects too.
    auto nested = [](int depth, const char* type) {
        std::string s;
        for (int i = 0; i < depth; ++i) s += std::string(type) + " f" + std::to_string(i) + " {\n";
        return TextBytes(s + std::string(depth, '}'));
    };
    EXPECT_EQ(Outcome(nested(64, "Frame")), "accepted");
    EXPECT_EQ(Outcome(nested(100000, "Frame")), "line 66: objects nested deeper than 64 levels");
    EXPECT_EQ(Outcome(nested(100000, "Unknown")), "line 66: objects nested deeper than 64 levels");
    EXPECT_EQ(Outcome(TextBytes("Frame A {" + std::string(100000, '{'))),
              "line 2: expected '}' to close a reference");
    // One mesh of 2000 vertices placed 200000 times: far beyond the 512 MiB a model may take.
    std::string mesh = "Mesh big {\n2000;\n";
    for (int i = 0; i < 2000; ++i) mesh += "0;0;0;,\n";
    mesh.back() = ';';
    mesh += "\n1; 3;0,1,2;;\n}\nFrame F {\n";
    for (int i = 0; i < 200000; ++i) mesh += "{big}";
    EXPECT_EQ(Outcome(TextBytes(mesh + "}\n")),
              "line 2: Mesh 'big': the model needs more than 512 MiB");
}

TEST(XFileHostile, EveryTruncationIsRefused) {
    std::vector<std::string> files = {Corpus("model.x"), Corpus("model-bin.x"),
                                      Corpus("model-tzip.x"), Corpus("model-bzip.x")};
    if (std::filesystem::is_directory(DUO_XFILES_DIR))
        for (const char* name : {"test_cube_text.x", "test_cube_binary.x", "test_cube_compressed.x",
                                 "kwxport_test_cubewithvcolors.x", "Testwuson.X"})
            files.push_back(ThirdParty(name));
    for (const std::string& file : files) {
        SCOPED_TRACE(file);
        const std::vector<uint8_t> full = ReadBytes(file);
        ASSERT_GT(full.size(), 16u);
        ASSERT_EQ(Outcome(full), "accepted");
        const auto [start, end] = LastObject(full);
        ASSERT_LT(start, end);
        // Every byte of the small files; a sample of cuts through the large one.
        const size_t cuts = std::clamp<size_t>(20000000 / full.size(), 60, 3000);
        const size_t step = std::max<size_t>(1, (end - start) / cuts);
        for (size_t len = start + 1; len < end; len += step) {
            const std::string error = Outcome({full.begin(), full.begin() + len});
            ASSERT_TRUE(error.rfind("line ", 0) == 0 || error.rfind("byte offset ", 0) == 0)
                << "cut at " << len << ": " << error;
        }
    }
}

TEST(XFileHostile, LoadersReportOneLineNamingFileAndPlace) {
    const std::string dir = MakeScratchDir("hostile_x", false);
    const std::string broken = dir + "/broken.x", fifo = dir + "/fifo.x";
    std::ofstream(broken, std::ios::binary) << Text(
        "Frame A {\n  Mesh m {\n    3; 0;0;0;, 1;0;0;, 0;1;0;;\n    1; 3;0,1,9;;\n  }\n}\n");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    Loaded l;
    l.root = reinterpret_cast<D3DXFRAME*>(&l.allocator); // must be overwritten
    MeshPtr mesh;
    testing::internal::CaptureStderr();
    EXPECT_EQ(l.File(broken), E_FAIL);
    EXPECT_EQ(std::exchange(l.root, nullptr), nullptr); // never left pointing at the garbage
    // A FIFO with no writer would block the open for ever; a directory has no bytes.
    for (const std::string& file : {broken, std::string("/nonexistent/room.x"), fifo, dir})
        EXPECT_EQ(
            D3DXLoadMeshFromXA(file.c_str(), 0, nullptr, nullptr, nullptr, nullptr, nullptr, &mesh),
            E_FAIL);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(mesh, nullptr);
    EXPECT_TRUE(l.allocator.calls.empty()); // nothing is created from a file that fails to read
    const std::string line = broken + ": line 3: Mesh 'm': face 0 names index 9 of 3\n";
    EXPECT_EQ(err, line + line + "/nonexistent/room.x: cannot open the file\n" + fifo +
                       ": not a regular file\n" + dir + ": not a regular file\n");
}

TEST(XFileHostile, AmplifyingFilesAreRefusedBeforeTheyTakeTheMemory) {
    // 4 MiB of references, some 150 bytes each once parsed; 96 MiB is what 4 MiB may take.
    const std::string refs = "Frame F {\n" + [] {
        std::string r;
        for (int i = 0; i < (4 << 20) / 3; ++i) r += "{a}";
        return r;
    }() + "}\n";
    // One position split 5000 ways by its normals, with 5000 weights on it: 25 million bindings.
    std::string skin = "Frame F { Mesh m {\n1; 0;0;0;;\n5000;\n", normals, faces, ids, weights;
    for (int i = 0; i < 5000; ++i) {
        const char* sep = i < 4999 ? "," : ";";
        skin += "3;0,0,0;" + std::string(sep);
        normals += std::to_string(i + 1) + ";0;0;" + sep;
        faces += "3;" + std::to_string(i) + "," + std::to_string(i) + "," + std::to_string(i) +
                 ";" + sep;
        ids += std::string("0") + sep;
        weights += std::string("1") + sep;
    }
    skin += "\nMeshNormals { 5000;\n" + normals + "\n5000;\n" + faces +
            "}\nSkinWeights { \"F\"; 5000;\n" + ids + weights +
            "1,0,0,0,0,1,0,0,0,0,1,0,0,0,0,1;; } } }\n";
    EXPECT_EQ(Outcome(TextBytes(refs)),
              "line 3: the document needs more than 96 MiB, the most its size allows");
    EXPECT_EQ(Outcome(TextBytes(skin)), "line 2: Mesh 'm': the model needs more than 512 MiB");
}

TEST(XFileHostile, RunningOutOfMemoryRefusesTheModelAndFreesWhatWasMade) {
    struct Exhausted : CopyingAllocator {
        HRESULT CreateFrame(const char* name, D3DXFRAME** out) override {
            if (calls.size() == 1) throw std::bad_alloc();
            return CopyingAllocator::CreateFrame(name, out);
        }
    } allocator;
    const std::string x = Text("Frame A {} Frame B {}");
    D3DXFRAME* root = nullptr;
    testing::internal::CaptureStderr();
    EXPECT_EQ(D3DXLoadMeshHierarchyFromXInMemory(x.data(), DWORD(x.size()), 0, nullptr, &allocator,
                                                 nullptr, &root, nullptr),
              E_FAIL);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "(memory): not enough memory to load the model\n");
    EXPECT_EQ(std::tuple(root, allocator.live), std::tuple(nullptr, 0));
}
