// A scripted server on loopback for the network tests: listens on an ephemeral port, accepts
// one client on its own thread and runs a script against it.
#pragma once

#include <cstdint>
#include <functional>
#include <thread>
#include <vector>

using Bytes = std::vector<uint8_t>;

Bytes Words(std::initializer_list<int32_t> words); // in network order
Bytes Concat(std::initializer_list<Bytes> parts);
bool SendAll(int fd, const Bytes& bytes);
// Exactly n bytes within timeoutMs; fewer when the peer closes or time runs out.
Bytes ReadBytes(int fd, size_t n, int timeoutMs = 5000);
int32_t WordAt(const Bytes& b, size_t offset);
// Polls pred until it holds or timeoutMs passes.
bool WaitFor(const std::function<bool()>& pred, int timeoutMs = 5000);

struct ScriptedServer {
    int listenFd = -1, port = 0, peer = -1;
    std::thread thread;
    ScriptedServer();
    ~ScriptedServer();
    void Run(std::function<void(int fd)> script); // accepts one client, then script(fd)
    void Join();
};
