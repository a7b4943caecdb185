#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <string_view>

#include "sip/req_proc.hpp"

namespace {

// A typical INVITE from a phone, with a small SDP body: about 600 bytes.
constexpr std::string_view kInvite =
    "INVITE sip:1002@127.0.0.1 SIP/2.0\r\n"
    "Via: SIP/2.0/UDP 127.0.0.7:5060;branch=z9hG4bK-524287-1---a8b4c1e0f3d2\r\n"
    "Max-Forwards: 70\r\n"
    "Contact: <sip:1001@127.0.0.7:5060>\r\n"
    "To: <sip:1002@127.0.0.1>\r\n"
    "From: \"Desk 1001\" <sip:1001@127.0.0.1>;tag=4f2a9c1b\r\n"
    "Call-ID: 8d1e6f0a7b3c45e2a9d0c4b1e7f6a3d2@127.0.0.7\r\n"
    "CSeq: 1 INVITE\r\n"
    "Content-Type: application/sdp\r\n"
    "User-Agent: DeskPhone 2.4\r\n"
    "Expires: 120\r\n"
    "Content-Length: 221\r\n"
    "\r\n"
    "v=0\r\n"
    "o=- 3876543210 3876543210 IN IP4 127.0.0.7\r\n"
    "s=call\r\n"
    "c=IN IP4 127.0.0.7\r\n"
    "t=0 0\r\n"
    "m=audio 40000 RTP/AVP 0 8 101\r\n"
    "a=rtpmap:0 PCMU/8000\r\n"
    "a=rtpmap:8 PCMA/8000\r\n"
    "a=rtpmap:101 telephone-event/8000\r\n"
    "a=fmtp:101 0-16\r\n"
    "a=sendrecv\r\n";

void BM_Parse(benchmark::State& state) {
    for (auto _ : state) {
        TagReqProc message(kInvite.data(), static_cast<int>(kInvite.size()));
        benchmark::DoNotOptimize(message.headers.size());
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(kInvite.size()));
}
BENCHMARK(BM_Parse);

// What a turn does with a forwarded request: parse, dump, and the header reads of the routing.
void BM_ParseDumpAndRead(benchmark::State& state) {
    std::FILE* null = std::fopen("/dev/null", "w");
    if (null == nullptr) {
        state.SkipWithError("cannot open /dev/null");
        return;
    }
    std::string address, userName, toValue, expires;
    int port = 0;
    for (auto _ : state) {
        TagReqProc message(kInvite.data(), static_cast<int>(kInvite.size()));
        message.Dump(null);
        message.GetViaAddr(address, port, null);
        message.GetToName(userName, toValue, null);
        message.GetHeader("Expires", expires);
        benchmark::DoNotOptimize(port);
        benchmark::DoNotOptimize(expires.data());
    }
    std::fclose(null);
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(kInvite.size()));
}
BENCHMARK(BM_ParseDumpAndRead);

}  // namespace
