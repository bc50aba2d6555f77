#include "infra/SocketErrorText.h"

#include <cerrno>
#include <string_view>

namespace {

struct ErrorEntry {
    int errnoValue;
    int code;
    std::string_view message;
};

constexpr ErrorEntry kErrors[] = {
    {EINTR, 10004, "The (blocking) call was canceled through WSACancelBlockingCall."},
    {EFAULT, 10014, "The buf parameter is not completely contained in a valid part of the user address space."},
    {EINVAL, 10022,
     "The socket has not been bound with bind, or an unknown flag was specified, or MSG_OOB was specified for a "
     "socket with SO_OOBINLINE enabled or (for byte stream sockets only) len was zero or negative."},
    {EAGAIN, 10035, "The socket is marked as nonblocking and the receive operation would block."},
    {EINPROGRESS, 10036,
     "A blocking Windows Sockets 1.1 call is in progress, or the service provider is still processing a callback "
     "function."},
    {ENOTSOCK, 10038, "The descriptor is not a socket."},
    {EMSGSIZE, 10040, "The message was too large to fit into the specified buffer and was truncated."},
    {EOPNOTSUPP, 10045,
     "MSG_OOB was specified, but the socket is not stream-style such as type SOCK_STREAM, OOB data is not supported "
     "in the communication domain associated with this socket, or the socket is unidirectional and supports only "
     "send operations."},
    {ENETDOWN, 10050, "The network subsystem has failed."},
    {ENETRESET, 10052,
     "The connection has been broken due to the keep-alive activity detecting a failure while the operation was in "
     "progress."},
    {ECONNABORTED, 10053,
     "The virtual circuit was terminated due to a time-out or other failure. The application should close the "
     "socket as it is no longer usable."},
    {ECONNRESET, 10054,
     "The virtual circuit was reset by the remote side executing a hard or abortive close. The application should "
     "close the socket as it is no longer usable. On a UPD-datagram socket this error would indicate that a "
     "previous send operation resulted in an ICMP \"Port Unreachable\" message."},
    {ENOTCONN, 10057, "The socket is not connected."},
    {ESHUTDOWN, 10058,
     "The socket has been shut down; it is not possible to receive on a socket after shutdown has been invoked with "
     "how set to SD_RECEIVE or SD_BOTH."},
    {ETIMEDOUT, 10060,
     "The connection has been dropped because of a network failure or because the peer system failed to respond."},
    {ECONNREFUSED, 10061, "No connection could be made because the target machine actively refused it."},
};

}  // namespace

int socketErrorCode(int error) {
    for (const ErrorEntry& entry : kErrors)
        if (entry.errnoValue == error) return entry.code;
    return error;
}

std::string socketErrorText(int error) {
    for (const ErrorEntry& entry : kErrors)
        if (entry.errnoValue == error)
            return "Error:[" + std::to_string(entry.code) + "]. " + std::string(entry.message);
    return "Error:[" + std::to_string(error) + "]. Unknown error.";
}

std::string socketErrorText() { return socketErrorText(errno); }
