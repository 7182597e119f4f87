// A Modbus TCP server from libmodbus, run on a thread of the test process:
// a peer that no one here wrote, for tests and benchmarks of Modbus TCP
// masters. It listens on 127.0.0.1 on a port picked free at start, serves
// any number of connections, and answers from a register table that the
// test may read and change at any time.
//
//     testsupport::LibmodbusServer server;
//     ASSERT_TRUE(server.Start());
//     server.SetHoldingRegister(0, 1234);
//     ... connect a master to 127.0.0.1:server.Port() ...
//
// Link libmodbus (pkg-config libmodbus) into the program that includes it.
#pragma once

#include <modbus/modbus.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

namespace testsupport {

class LibmodbusServer {
public:
    // Table sizes: coils, discrete inputs, holding registers, input
    // registers, all from address 0. An address past the end is answered
    // with the exception "illegal data address".
    explicit LibmodbusServer(int nBits = 1000, int nInputBits = 1000, int nRegisters = 1000,
                             int nInputRegisters = 1000)
        : m_mapping(modbus_mapping_new(nBits, nInputBits, nRegisters, nInputRegisters)) {}
    ~LibmodbusServer() {
        Stop();
        modbus_mapping_free(m_mapping);
    }
    LibmodbusServer(const LibmodbusServer&) = delete;
    LibmodbusServer& operator=(const LibmodbusServer&) = delete;

    // Listens on the port (0: one picked free) and serves until Stop. False
    // when it cannot listen or already runs. Start again after Stop on the
    // same Port() to play a device that restarts.
    bool Start(int nPort = 0) {
        if (m_thread.joinable() || m_mapping == nullptr) {
            return false;
        }
        m_ctx = modbus_new_tcp("127.0.0.1", nPort);
        if (m_ctx == nullptr) {
            return false;
        }
        m_listen = modbus_tcp_listen(m_ctx, 8);
        sockaddr_in bound{};
        socklen_t len = sizeof bound;
        if (m_listen < 0 || pipe(m_wake) != 0 ||
            getsockname(m_listen, reinterpret_cast<sockaddr*>(&bound), &len) != 0) {
            Release();
            return false;
        }
        m_port = ntohs(bound.sin_port);
        m_thread = std::thread([this] { Serve(); });
        return true;
    }

    // Closes every connection and the listening socket; returns when the
    // server thread has ended.
    void Stop() {
        if (!m_thread.joinable()) {
            return;
        }
        const char byte = 0;
        (void)!write(m_wake[1], &byte, 1);
        m_thread.join();
        Release();
    }

    int Port() const { return m_port; }

    // While silent the server reads requests and answers none: a device
    // that has stopped answering.
    void SetSilent(bool bSilent) { m_silent = bSilent; }
    // The table, under the lock the server thread answers under.
    void SetHoldingRegister(int i, std::uint16_t v) {
        With([&](modbus_mapping_t& m) { m.tab_registers[i] = v; });
    }
    // Anything else on the table, under the same lock.
    template <class F>
    void With(F f) {
        std::lock_guard<std::mutex> lock(m_lock);
        f(*m_mapping);
    }

private:
    void Serve() {
        std::vector<int> clients;
        std::vector<std::uint8_t> query(MODBUS_TCP_MAX_ADU_LENGTH);
        for (;;) {
            std::vector<pollfd> fds{{m_wake[0], POLLIN, 0}, {m_listen, POLLIN, 0}};
            for (int c : clients) {
                fds.push_back({c, POLLIN, 0});
            }
            if (poll(fds.data(), fds.size(), -1) < 0) {
                continue;  // a signal: wait again
            }
            if (fds[0].revents != 0) {
                break;
            }
            if (fds[1].revents & POLLIN) {
                const int s = accept(m_listen, nullptr, nullptr);
                if (s >= 0) {
                    clients.push_back(s);
                }
            }
            for (std::size_t i = 2; i < fds.size(); ++i) {
                if (fds[i].revents == 0) {
                    continue;
                }
                if (!Answer(fds[i].fd, query.data())) {
                    close(fds[i].fd);
                    std::erase(clients, fds[i].fd);
                }
            }
        }
        for (int c : clients) {
            close(c);
        }
    }

    // False when the connection has ended.
    bool Answer(int s, std::uint8_t* pQuery) {
        modbus_set_socket(m_ctx, s);
        const int n = modbus_receive(m_ctx, pQuery);
        if (n < 0) {
            return false;
        }
        if (n == 0) {
            return true;  // a request for another unit: libmodbus ignores it
        }
        if (m_silent) {
            return true;
        }
        std::lock_guard<std::mutex> lock(m_lock);
        return modbus_reply(m_ctx, pQuery, n, m_mapping) >= 0;
    }

    void Release() {
        if (m_listen >= 0) {
            close(m_listen);
            m_listen = -1;
        }
        for (int& fd : m_wake) {
            if (fd >= 0) {
                close(fd);
                fd = -1;
            }
        }
        if (m_ctx != nullptr) {
            modbus_free(m_ctx);
            m_ctx = nullptr;
        }
    }

    modbus_mapping_t* m_mapping;
    std::mutex m_lock;
    modbus_t* m_ctx = nullptr;
    int m_listen = -1;
    int m_wake[2] = {-1, -1};
    int m_port = 0;
    std::atomic<bool> m_silent{false};
    std::thread m_thread;
};

}  // namespace testsupport
