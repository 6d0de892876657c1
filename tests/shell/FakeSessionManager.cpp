// A stand-in for the desktop's X session manager (XSMP), for the logout rows of a test. It takes
// one client at a time and prints, one per line:
//   SESSION_MANAGER=<address>  once it listens (local socket only)
//   proceed | cancel | failed  when the client has answered a logout: saved and done, asked to
//                              cancel the logout, or reported a failed save without cancelling
// Commands on standard input, one per line:
//   logout any|errors|none     asks the client to save before the session ends, allowing any
//                              interaction, only error dialogs, or none
// Every logout is then called off again (ShutdownCancelled), so the client stays usable for the
// next one. End of input ends the program.
#include <X11/ICE/ICElib.h>
#include <X11/SM/SMlib.h>

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

SmsConn client = nullptr;
bool cancelRequested = false;
std::vector<IceConn> closing; // connections whose client said goodbye

void say(const std::string &line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

Status registerClient(SmsConn conn, SmPointer, char *previousId) {
    std::free(previousId);
    char *id = SmsGenerateClientID(conn);
    const Status accepted = id && SmsRegisterClientReply(conn, id);
    std::free(id);
    return accepted;
}

void interactRequest(SmsConn conn, SmPointer, int) {
    SmsInteract(conn);
}

void interactDone(SmsConn, SmPointer, Bool cancelShutdown) {
    cancelRequested = cancelRequested || cancelShutdown;
}

void saveYourselfRequest(SmsConn, SmPointer, int, Bool, int, Bool, Bool) {}

void saveYourselfPhase2Request(SmsConn conn, SmPointer) {
    SmsSaveYourselfPhase2(conn);
}

void saveYourselfDone(SmsConn conn, SmPointer, Bool success) {
    say(cancelRequested ? "cancel" : success ? "proceed" : "failed");
    cancelRequested = false;
    SmsShutdownCancelled(conn);
}

void closeConnection(SmsConn conn, SmPointer, int count, char **reasons) {
    SmFreeReasons(count, reasons);
    closing.push_back(SmsGetIceConnection(conn));
    SmsCleanUp(conn);
    if (conn == client)
        client = nullptr;
}

void setProperties(SmsConn, SmPointer, int count, SmProp **properties) {
    for (int i = 0; i < count; ++i)
        SmFreeProperty(properties[i]);
    std::free(properties);
}

void deleteProperties(SmsConn, SmPointer, int count, char **names) {
    for (int i = 0; i < count; ++i)
        std::free(names[i]);
    std::free(names);
}

void getProperties(SmsConn conn, SmPointer) {
    SmsReturnProperties(conn, 0, nullptr);
}

Status newClient(SmsConn conn, SmPointer, unsigned long *mask, SmsCallbacks *callbacks, char **) {
    *mask = SmsRegisterClientProcMask | SmsInteractRequestProcMask | SmsInteractDoneProcMask |
            SmsSaveYourselfRequestProcMask | SmsSaveYourselfP2RequestProcMask | SmsSaveYourselfDoneProcMask |
            SmsCloseConnectionProcMask | SmsSetPropertiesProcMask | SmsDeletePropertiesProcMask |
            SmsGetPropertiesProcMask;
    callbacks->register_client.callback = registerClient;
    callbacks->interact_request.callback = interactRequest;
    callbacks->interact_done.callback = interactDone;
    callbacks->save_yourself_request.callback = saveYourselfRequest;
    callbacks->save_yourself_phase2_request.callback = saveYourselfPhase2Request;
    callbacks->save_yourself_done.callback = saveYourselfDone;
    callbacks->close_connection.callback = closeConnection;
    callbacks->set_properties.callback = setProperties;
    callbacks->delete_properties.callback = deleteProperties;
    callbacks->get_properties.callback = getProperties;
    client = conn;
    return 1;
}

// Only processes of this test reach the local socket; no cookie is needed.
Bool anyHost(char *) {
    return True;
}

// A client that went away is no reason to end.
void ignoreIOError(IceConn) {}

void command(const std::string &line) {
    const auto style = line == "logout any"      ? SmInteractStyleAny
                       : line == "logout errors" ? SmInteractStyleErrors
                       : line == "logout none"   ? SmInteractStyleNone
                                                 : -1;
    if (style < 0 || !client) {
        say("refused");
        return;
    }
    SmsSaveYourself(client, SmSaveBoth, True, style, False);
    IceFlush(SmsGetIceConnection(client));
}

} // namespace

int main() {
    char error[256] = {};
    IceSetIOErrorHandler(ignoreIOError);
    if (!SmsInitialize("vellumbox-test", "1.0", newClient, nullptr, anyHost, sizeof error, error)) {
        std::fprintf(stderr, "SmsInitialize: %s\n", error);
        return 1;
    }
    int count = 0;
    IceListenObj *listeners = nullptr;
    if (!IceListenForConnections(&count, &listeners, sizeof error, error)) {
        std::fprintf(stderr, "IceListenForConnections: %s\n", error);
        return 1;
    }
    // The client is on this machine: only the local socket is offered, and any network listener
    // is closed at once.
    std::vector<IceListenObj> local;
    for (int i = 0; i < count; ++i) {
        char *address = IceGetListenConnectionString(listeners[i]);
        if (std::strncmp(address, "local/", 6) == 0) {
            IceSetHostBasedAuthProc(listeners[i], anyHost);
            local.push_back(listeners[i]);
        } else {
            close(IceGetListenConnectionNumber(listeners[i]));
        }
        std::free(address);
    }
    if (local.empty()) {
        std::fprintf(stderr, "no local socket\n");
        return 1;
    }
    char *address = IceComposeNetworkIdList(int(local.size()), local.data());
    say(std::string("SESSION_MANAGER=") + address);
    std::free(address);

    std::vector<IceConn> connections;
    std::string input;
    for (;;) {
        std::vector<pollfd> fds{{STDIN_FILENO, POLLIN, 0}};
        for (IceListenObj listener : local)
            fds.push_back({IceGetListenConnectionNumber(listener), POLLIN, 0});
        for (IceConn connection : connections)
            fds.push_back({IceConnectionNumber(connection), POLLIN, 0});
        if (poll(fds.data(), fds.size(), -1) < 0)
            continue;
        if (fds[0].revents) {
            char buffer[256];
            const ssize_t n = read(STDIN_FILENO, buffer, sizeof buffer);
            if (n <= 0) {
                for (IceConn connection : connections) {
                    IceSetShutdownNegotiation(connection, False);
                    IceCloseConnection(connection);
                }
                IceFreeListenObjs(count, listeners);
                return 0;
            }
            input.append(buffer, size_t(n));
            for (size_t end; (end = input.find('\n')) != std::string::npos; input.erase(0, end + 1))
                command(input.substr(0, end));
        }
        std::vector<IceConn> open;
        for (size_t i = 0; i < local.size(); ++i) {
            if (!fds[1 + i].revents)
                continue;
            IceAcceptStatus status;
            if (IceConn connection = IceAcceptConnection(local[i], &status))
                open.push_back(connection);
        }
        for (size_t i = 0; i < connections.size(); ++i) {
            IceConn connection = connections[i];
            IceProcessMessagesStatus status = IceProcessMessagesSuccess;
            if (fds[1 + local.size() + i].revents)
                status = IceProcessMessages(connection, nullptr, nullptr);
            if (status == IceProcessMessagesConnectionClosed)
                continue; // closed and freed by the library
            const bool gone = status == IceProcessMessagesIOError;
            if (gone && client && SmsGetIceConnection(client) == connection) {
                SmsCleanUp(client);
                client = nullptr;
            }
            if (gone || std::find(closing.begin(), closing.end(), connection) != closing.end()) {
                IceSetShutdownNegotiation(connection, False);
                IceCloseConnection(connection);
                continue;
            }
            open.push_back(connection);
        }
        closing.clear();
        connections = open;
    }
}
