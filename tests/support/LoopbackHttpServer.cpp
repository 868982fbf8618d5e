#include "support/LoopbackHttpServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <stdexcept>

#include "support/TempDir.h"

namespace {

bool SendAll(int fd, const char* data, size_t length) {
    while (length > 0) {
        const ssize_t n = ::send(fd, data, length, MSG_NOSIGNAL);
        if (n <= 0) return false;
        data += n;
        length -= static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

LoopbackHttpServer::LoopbackHttpServer(std::string root) : root_(std::move(root)) {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t length = sizeof address;
    if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener_, 8) != 0 || ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
        ::pipe(stopPipe_) != 0) {
        throw std::runtime_error("the test HTTP server cannot listen");
    }
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { Run(); });
}

LoopbackHttpServer::~LoopbackHttpServer() {
    const char byte = 1;
    if (::write(stopPipe_[1], &byte, 1) < 0) {
        // Cannot happen: the pipe is ours, empty and open.
    }
    thread_.join();
    ::close(listener_);
    ::close(stopPipe_[0]);
    ::close(stopPipe_[1]);
}

std::string LoopbackHttpServer::Url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/"; }

void LoopbackHttpServer::SetFault(const std::string& path, Fault fault, size_t bytes) {
    std::lock_guard<std::mutex> lock(faultMutex_);
    faults_[path] = {fault, bytes};
}

void LoopbackHttpServer::Run() {
    while (true) {
        pollfd fds[2] = {{listener_, POLLIN, 0}, {stopPipe_[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) continue;
        if (fds[1].revents) return;
        if (fds[0].revents & POLLIN) {
            const int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (client >= 0) {
                Serve(client);
                ::close(client);
            }
        }
    }
}

void LoopbackHttpServer::Serve(int client) {
    // The request line and headers, up to the blank line.
    std::string request;
    char buffer[4096];
    while (request.find("\r\n\r\n") == std::string::npos && request.size() < 65536) {
        pollfd fds[2] = {{client, POLLIN, 0}, {stopPipe_[0], POLLIN, 0}};
        if (::poll(fds, 2, 5000) <= 0 || fds[1].revents) return;
        const ssize_t n = ::recv(client, buffer, sizeof buffer, 0);
        if (n <= 0) return;
        request.append(buffer, static_cast<size_t>(n));
    }
    ++requests_;
    const size_t firstSpace = request.find(' ');
    const size_t secondSpace = request.find(' ', firstSpace + 1);
    if (firstSpace == std::string::npos || secondSpace == std::string::npos) return;
    const std::string path = request.substr(firstSpace + 1, secondSpace - firstSpace - 1);

    std::string body;
    const bool found = path.find("..") == std::string::npos && !(body = ReadWholeFile(root_ + path)).empty();
    if (!found) {
        const char notFound[] = "HTTP/1.0 404 Not Found\r\nContent-Length: 0\r\n\r\n";
        SendAll(client, notFound, sizeof notFound - 1);
        return;
    }
    std::pair<Fault, size_t> fault{Fault::None, 0};
    {
        std::lock_guard<std::mutex> lock(faultMutex_);
        if (auto it = faults_.find(path); it != faults_.end()) fault = it->second;
    }
    if (fault.first == Fault::Endless) {
        // HTTP/1.0 without a length: the body ends when the connection does.
        const char header[] = "HTTP/1.0 200 OK\r\nContent-Type: application/octet-stream\r\n\r\n";
        if (!SendAll(client, header, sizeof header - 1)) return;
        while (SendAll(client, body.data(), body.size())) {
            pollfd stop{stopPipe_[0], POLLIN, 0};
            if (::poll(&stop, 1, 0) > 0) return;
        }
        return;
    }
    const std::string header = "HTTP/1.0 200 OK\r\nContent-Type: application/octet-stream\r\nContent-Length: " +
                               std::to_string(body.size()) + "\r\n\r\n";
    if (!SendAll(client, header.data(), header.size())) return;
    const size_t send = fault.first == Fault::None ? body.size() : std::min(fault.second, body.size());
    if (!SendAll(client, body.data(), send)) return;
    if (fault.first == Fault::Stall) {
        // Silence until the client gives up or the server stops.
        pollfd fds[2] = {{client, POLLIN, 0}, {stopPipe_[0], POLLIN, 0}};
        while (::poll(fds, 2, -1) > 0 && !fds[1].revents) {
            if (::recv(client, buffer, sizeof buffer, 0) <= 0) return;
        }
    }
}
