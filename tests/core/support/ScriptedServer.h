// A loopback TCP server that plays one part for an instrument test: it takes
// one client and answers every line it receives as told (a reply, a reply in
// two pieces, nothing, or closing the connection). Built on instrument/Net.h,
// so it serves on POSIX sockets and on Winsock alike. It stops at once when
// it goes, whatever the client does.
#pragma once

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "instrument/Net.h"

namespace varnel::testing {

class ScriptedServer {
public:
    enum class Answer {
        Reply,          // sends `reply` at once
        ReplyInPieces,  // sends `reply` in two writes, the line end only in the second
        Silent,         // reads the line and never answers
        Close,          // closes the connection on the line
        Refuse,         // nobody listens on the port: a connection is refused
    };

    ScriptedServer(Answer answer, std::string reply) : answer_(answer), reply_(std::move(reply)) {
        Result<net::Socket> listener = net::ListenLoopback(0, &port_);
        Result<std::pair<net::Socket, net::Socket>> wake = net::WakePair();
        if (!listener || !wake) return;
        if (answer == Answer::Refuse) {
            refusing_ = true;
            return;  // the port was free a moment ago and is closed again
        }
        listener_ = std::move(listener.value());
        wakeRead_ = std::move(wake.value().first);
        wakeWrite_ = std::move(wake.value().second);
        thread_ = std::thread([this] { serve(); });
    }
    ~ScriptedServer() {
        if (thread_.joinable()) {
            const char byte = 0;
            std::size_t n = 0;
            (void)net::SendSome(wakeWrite_, &byte, 1, &n);
            thread_.join();
        }
    }
    ScriptedServer(const ScriptedServer&) = delete;
    ScriptedServer& operator=(const ScriptedServer&) = delete;

    bool ready() const { return thread_.joinable() || refusing_; }
    int port() const { return port_; }
    std::string url() const { return "tcp://127.0.0.1:" + std::to_string(port_); }
    // The lines received so far, without their line ends.
    std::vector<std::string> lines() const {
        std::lock_guard lock(mutex_);
        return lines_;
    }

private:
    // Waits for `socket` (and the wake-up); false when woken to stop.
    bool wait(const net::Socket& socket) {
        std::vector<net::PollEntry> entries{{wakeRead_.handle(), true, false}, {socket.handle(), true, false}};
        while (net::Poll(entries, -1) < 0) {
        }
        return !entries[0].readable;
    }

    void send(const net::Socket& client, const std::string& bytes) {
        (void)net::SendAll(client, bytes, std::chrono::milliseconds(2000), "client");
    }

    void serve() {
        net::Socket client;
        while (!client.valid()) {
            if (!wait(listener_)) return;
            client = net::Accept(listener_);
        }
        std::string input;
        for (;;) {
            if (!wait(client)) return;
            char chunk[1024];
            std::size_t n = 0;
            const net::Io io = net::ReceiveSome(client, chunk, sizeof chunk, &n);
            if (io == net::Io::WouldBlock) continue;
            if (io != net::Io::Done) return;  // the client went
            input.append(chunk, n);
            for (auto nl = input.find('\n'); nl != std::string::npos; nl = input.find('\n')) {
                {
                    std::lock_guard lock(mutex_);
                    lines_.push_back(input.substr(0, nl));
                }
                input.erase(0, nl + 1);
                switch (answer_) {
                    case Answer::Reply:
                        send(client, reply_);
                        break;
                    case Answer::ReplyInPieces: {
                        const std::size_t half = reply_.size() / 2;
                        send(client, reply_.substr(0, half));
                        std::this_thread::sleep_for(std::chrono::milliseconds(20));
                        send(client, reply_.substr(half));
                        break;
                    }
                    case Answer::Silent:
                        break;
                    case Answer::Refuse:  // never serves
                    case Answer::Close:
                        client.reset();
                        // Nothing more to serve; wait to be stopped.
                        wait(wakeRead_);
                        return;
                }
            }
        }
    }

    Answer answer_;
    std::string reply_;
    int port_ = 0;
    bool refusing_ = false;
    net::Socket listener_;
    net::Socket wakeRead_;
    net::Socket wakeWrite_;
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
    std::thread thread_;
};

}  // namespace varnel::testing
