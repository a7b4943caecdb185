#pragma once

#include <netinet/in.h>

#include <string>
#include <string_view>

#include "core/working_values.hpp"

class TagRegUsers;
class TagReqProc;

// ---- Deciding: pure functions of the message, its sender, the settings and the table's answers.

// REGISTER and SUBSCRIBE (exact, case-sensitive) are answered by the relay itself.
bool IsAnsweredLocally(std::string_view method);

// The upstream server is recognised only by its exact dotted address text and its port.
bool IsFromUpstreamServer(std::string_view srcAddress, int srcPort, const WorkingValues& wv);

enum class RouteWay { ByTo, ByVia };

// What the routing knows of a message to be forwarded before it asks the table.
struct ForwardFacts {
    bool isRequest = true;      // the method is not "SIP/2.0"
    bool fromUpstream = false;  // IsFromUpstreamServer
    bool viaFound = false;      // the message has a Via entry
    std::string viaAddress;     // from the Via; empty without one
    int viaPort = 5060;         // from the Via; 5060 without one
    std::string srcAddress;     // where the datagram came from
    int srcPort = 0;
};

RouteWay ChooseRouteWay(const ForwardFacts& facts, const WorkingValues& wv);

// The table's answer to the look-up the way of routing asks for.
struct TableAnswer {
    bool found = false;
    std::string address;
    int port = 0;
};

struct Destination {
    std::string address;
    int port = 0;
};

// Where a forwarded message goes: the binding the table found, or the fall-back of its way.
Destination ChooseDestination(RouteWay way, const ForwardFacts& facts, const TableAnswer& answer,
                              const WorkingValues& wv);

// True when the destination is the relay's own socket. Forwarding there would make the datagram
// circle through the relay without end, since the relay adds no Via and keeps Max-Forwards.
bool IsRelayItself(const Destination& destination, const WorkingValues& wv);

// ---- Doing: one routing step for a received message.

// Answers REGISTER and SUBSCRIBE, or forwards the datagram by one send. Returns the send result:
// bytes sent, -1 when the send failed (or was refused as a loop), -2 when a name did not resolve.
int RouteMessage(TagRegUsers& users, int sock, TagReqProc& message, const char* buffer, int length,
                 const std::string& srcAddress, int srcPort, const sockaddr_in& srcSocketAddress);
