// The network road: the client's life with the window, and the reads as one request per variable.
#include "net/networkroad.h"

#include <utility>

#include "net/VqTcpIpcUdp_0.h"
#include "net/remotevariables.h"
#include "simlink/panelvariables.h"

namespace {

// Each variable as one request to this client.
RemoteVariableReader ReaderFor(TVqTcpBlockClient* client) {
    return [client](const PanelVariable& v) { return RequestRemoteVariable(client, v.offset, v.sizeText, v.kindText); };
}

}  // namespace

const char* const kTitleNetwork = "Kelvo Oil - Fuel Flow Panel v1.2 - Freeware [NETWORK]";
const char* const kTitleNotConnected = "Kelvo Oil - Fuel Flow Panel v1.2 - Freeware [NOT CONNECTED]";

TNetworkRoad::TNetworkRoad(std::string address, std::string port)
    : address_(std::move(address)), port_(std::move(port)) {}

TNetworkRoad::~TNetworkRoad() = default;

std::string TNetworkRoad::Title() const { return unreachable_ ? kTitleNotConnected : kTitleNetwork; }

bool TNetworkRoad::Open() {
    client_.reset();  // a client left from an earlier window goes before the new one
    client_ = std::make_unique<TVqTcpBlockClient>();
    client_->SetServerPort(port_);
    client_->SetServerAddress(address_);
    client_->Connect();
    unreachable_ = !client_->Connected();
    if (unreachable_) return false;
    ReadStartupTanksNetwork(ReaderFor(client_.get()));
    return true;
}

void TNetworkRoad::ReadSample(FlightSample& sample) {
    ReadFlightSampleNetwork(sample, ReaderFor(client_.get()));
}

void TNetworkRoad::Close() {
    if (client_ && client_->Connected()) client_.reset();
}
