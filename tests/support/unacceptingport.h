#pragma once

// A port that listens but never accepts: its accept queue is filled at once,
// so a further connection attempt is left unanswered (the client keeps
// resending its request) until the client gives up. Loopback only.

#include <QHostAddress>
#include <QList>
#include <QString>
#include <QTcpSocket>

#include <memory>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

class UnacceptingPort
{
public:
    UnacceptingPort(const QString& host, quint16 port)
    {
        m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
        const int yes = 1;
        ::setsockopt(m_fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(QHostAddress(host).toIPv4Address());
        m_listening = ::bind(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                      ::listen(m_fd, 0) == 0;
        // Bounded: the queue holds one or two connections on the usual kernels.
        for (int i = 0; m_listening && i < 8; ++i) {
            auto filler = std::make_unique<QTcpSocket>();
            filler->connectToHost(host, port);
            const bool connected = filler->waitForConnected(300);
            m_fillers.push_back(std::move(filler));
            if (!connected) {
                m_full = true;
                break;
            }
        }
    }
    ~UnacceptingPort()
    {
        m_fillers.clear();
        if (m_fd >= 0)
            ::close(m_fd);
    }
    UnacceptingPort(const UnacceptingPort&) = delete;
    UnacceptingPort& operator=(const UnacceptingPort&) = delete;

    // Listening, and a further connection is no longer answered.
    bool ready() const { return m_listening && m_full; }

private:
    int m_fd = -1;
    bool m_listening = false;
    bool m_full = false;
    std::vector<std::unique_ptr<QTcpSocket>> m_fillers;
};
