#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "recording/RecordingStore.h"

class TlsConnection;
class TlsContext;

// The recording server's client: one file per connection (a header, the file, the server's
// acknowledgement), over TCP or TLS. One is made per upload and one per re-send run.
class QMS {
public:
    struct Server {
        std::string host;
        int port = 0;
        bool secure = false;
        std::string caFile;  // when set, the server's certificate must chain to it
    };

    QMS(Server server, RecordingStore& store);
    virtual ~QMS();
    QMS(const QMS&) = delete;
    QMS& operator=(const QMS&) = delete;

    bool openQMSConnection();
    // 0 when every byte went out (in packets of at most 4000 bytes), -1 on error.
    int sendData(TlsConnection* ssl, const std::uint8_t* bytes, std::size_t size);
    // Reads the acknowledgement (it may come in pieces) into `buffer` for at most 10 s; true when
    // it names `name` and says "SUCCESS".
    bool receiveQMS_ACK(int socket, TlsConnection* ssl, char* buffer, std::size_t size, const std::string& name);
    void CloseQMSConnection();
    // Connects (up to 11 tries), sends the header and the file and waits for the acknowledgement.
    bool sendRecordingToQMS(const std::string& name, std::span<const std::uint8_t> bytes);
    // Keeps the file in the recordings folder, or in memory when it cannot be written.
    void writeToDisk(const std::string& name, std::span<const std::uint8_t> bytes);
    // The re-send run: every stored recording, smallest first, uploaded once and removed when
    // acknowledged. Ends early, between files, when `stopping` is set.
    void localRecordingSender(const std::atomic<bool>& stopping);

    static constexpr std::size_t kPacketBytes = 4000;
    static constexpr std::size_t kAckBytes = 512;

private:
    bool sendOnConnection(const std::string& name, std::span<const std::uint8_t> bytes, TlsConnection* ssl);
    void resend(const std::string& name, const std::string& path, std::span<const std::uint8_t> bytes);

    const Server server_;
    RecordingStore& store_;
    bool connected_ = false;
    int socket_ = -1;
    std::unique_ptr<TlsContext> context_;
};

// The upload header: the byte count that follows the first four bytes, the name's length + 2,
// the name and a 0. Empty when the name is too long for its length byte.
std::string qmsUploadHeader(const std::string& name, std::size_t fileSize);
// True when `reply` ("name^SUCCESS") acknowledges `name`; `status` is its second field.
bool qmsAcknowledges(const std::string& reply, const std::string& name, std::string& status);
// True when nothing more the server sends could change what `reply` means.
bool qmsReplyComplete(const std::string& reply);
