// A scripted server on loopback for the network tests: listens on an ephemeral port, accepts one
// client on its own thread and runs a script against it.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

using Bytes = std::vector<uint8_t>;

// Words in network order, as the wire carries them.
Bytes Words(std::initializer_list<int32_t> words);
Bytes Concat(std::initializer_list<Bytes> parts);
bool SendAll(int fd, const Bytes& bytes);
// Reads exactly n bytes within timeoutMs; fewer when the peer closes or time runs out.
Bytes ReadBytes(int fd, size_t n, int timeoutMs = 5000);
int32_t WordAt(const Bytes& b, size_t offset);

class ScriptedServer {
  public:
    ScriptedServer();
    ~ScriptedServer();
    int Port() const { return port_; }
    // Accepts one client, then runs script(fd) on the server thread.
    void Run(std::function<void(int fd)> script);
    void Join();

  private:
    int listenFd_ = -1, port_ = 0, peer_ = -1;
    std::thread thread_;
};

// Polls pred until it holds or timeoutMs passes.
bool WaitFor(const std::function<bool()>& pred, int timeoutMs = 5000);
