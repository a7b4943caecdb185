#pragma once

class TagRegUsers;

// Takes one datagram at a time from sock and hands it to the datagram turn, while the running
// flag is set. wakeFd ends a wait without a datagram (or -1 for none).
void ReceiveLoop(int sock, int wakeFd, TagRegUsers& users);
