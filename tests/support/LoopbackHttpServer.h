#pragma once
// A small HTTP/1.0 server on 127.0.0.1 for tests of the update client: it serves
// the files of a folder on a port of its own, one connection at a time, on its own
// thread. A path can be made to misbehave: cut short (the header promises the whole
// file, the connection closes after some bytes) or stalled (some bytes, then
// silence until the server stops), or endless (no length in the header, the file
// sent again and again until the client hangs up).

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <thread>

class LoopbackHttpServer {
public:
    enum class Fault { None, CutShort, Stall, Endless };

    // Serves root ("/a/b.zip" is root + "/a/b.zip"); listens at once.
    explicit LoopbackHttpServer(std::string root);
    ~LoopbackHttpServer();  // stops and joins
    LoopbackHttpServer(const LoopbackHttpServer&) = delete;
    LoopbackHttpServer& operator=(const LoopbackHttpServer&) = delete;

    // "http://127.0.0.1:<port>/"
    [[nodiscard]] std::string Url() const;
    // The path ("/1.0.3/firmware.zip") sends only `bytes` bytes of its body, then
    // closes or stalls.
    void SetFault(const std::string& path, Fault fault, size_t bytes);
    // Requests answered so far (any status).
    [[nodiscard]] int Requests() const { return requests_.load(); }

private:
    void Run();
    void Serve(int client);

    std::string root_;
    int listener_ = -1;
    int stopPipe_[2] = {-1, -1};
    int port_ = 0;
    std::atomic<int> requests_{0};
    std::mutex faultMutex_;  //!< Protects faults_.
    std::map<std::string, std::pair<Fault, size_t>> faults_;
    std::thread thread_;
};
