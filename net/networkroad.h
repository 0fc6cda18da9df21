// The network road: a server on the LAN, one connection per window, one request per variable.
#pragma once

#include <memory>
#include <string>

#include "simlink/panelroad.h"

class TVqTcpBlockClient;

extern const char* const kTitleNetwork;
extern const char* const kTitleNotConnected;

class TNetworkRoad : public IPanelRoad {
public:
    TNetworkRoad(std::string address, std::string port);
    ~TNetworkRoad() override;

    // "[NETWORK]", or "[NOT CONNECTED]" after a failed Open.
    std::string Title() const override;
    // A new client for every window: the one of an earlier window goes first. Throws the client's
    // errors for an unusable address or port; false when the server cannot be reached.
    bool Open() override;
    // Errors of a lost connection or a malformed reply pass to the caller.
    void ReadSample(FlightSample& sample) override;
    // A connected client goes with its window; one that never connected stays until the next Open.
    void Close() override;
    bool BurnsOnlyWhileCombustion() const override { return true; }

    // The current window's client, or null.
    TVqTcpBlockClient* Client() const { return client_.get(); }

private:
    std::string address_;
    std::string port_;
    std::unique_ptr<TVqTcpBlockClient> client_;
    bool unreachable_ = false;
};
