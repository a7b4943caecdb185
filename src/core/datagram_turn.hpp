#pragma once

#include <netinet/in.h>

#include <string>

class TagRegUsers;

// What the relay does with one received datagram: read it as a SIP message, print and log it,
// drop it when it has no method, else route it and print the send result.
void HandleDatagram(TagRegUsers& users, int sock, char* buffer, int length,
                    const std::string& srcAddress, int srcPort,
                    const sockaddr_in& srcSocketAddress);
