// Loopback helpers for the network tests: wire words, a client socket, a scripted server that
// accepts one client on its own thread, and duoscope-relay run as a child process.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <sys/types.h>
#include <thread>
#include <vector>

using Bytes = std::vector<uint8_t>;

Bytes Words(std::initializer_list<int32_t> words); // in network order
Bytes Concat(std::initializer_list<Bytes> parts);
int32_t WordAt(const Bytes& b, size_t offset);
bool SendAll(int fd, const Bytes& bytes);
// Exactly n bytes within timeoutMs; fewer when the peer closes or time runs out.
Bytes ReadBytes(int fd, size_t n, int timeoutMs = 5000);
Bytes ReadFrame(int fd, int timeoutMs = 5000); // header and body; shorter if the stream ends
// Polls pred until it holds or timeoutMs passes.
bool WaitFor(const std::function<bool()>& pred, int timeoutMs = 5000);
// A client of 127.0.0.1:port, every send its own segment; -1 when the connect fails.
int Connect(int port, int receiveBuffer = 0);
std::string LocalAddress(int fd); // "127.0.0.1:port" of this end

struct ScriptedServer {
    int listenFd = -1, port = 0, peer = -1;
    std::thread thread;
    ScriptedServer();
    ~ScriptedServer();
    Bytes got;
    void Run(std::function<void(int fd)> script); // accepts one client, then script(fd)
    // Sends bytes (one byte per segment when split), then reads up to readBack into got.
    void Serve(Bytes bytes, size_t readBack, int timeoutMs = 5000, bool split = false);
    void Join();
};

// The relay with its stdout and stderr in a pipe roomy enough for every line a test provokes;
// port is the one it reports listening on (0 when it reported none).
struct RelayProcess {
    pid_t pid = -1;
    int out = -1, port = 0;
    std::string log;
    explicit RelayProcess(std::vector<std::string> args = {"--port", "0", "--bind", "127.0.0.1"});
    ~RelayProcess(); // kills it if still running
    size_t Count(const std::string& text) const;
    // Reads the log until text is in it times; false after ms or at its end.
    bool WaitLog(const std::string& text, size_t times = 1, int ms = 10000);
    int ExitCode(); // waits for the end
};
