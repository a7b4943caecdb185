#include "sip/req_proc.hpp"

namespace {

// Every response the server builds carries this To tag, whatever the request.
constexpr std::string_view kToTag = ";tag=qarvimet";

// The bytes of the response besides the caller's texts and the six echoed values.
constexpr std::size_t kFixedLength = 114;

}  // namespace

int TagReqProc::BuildResponse(std::string_view statusCode, std::string_view reason,
                              std::string_view extraHeaders, std::string& out) {
    // Subscript lookups, in this order: a header the request lacks is added as empty text and
    // echoed as an empty line, so no header is required.
    const std::string& cseq = headers["CSeq"];
    const std::string& callId = headers["Call-ID"];
    const std::string& contact = headers["Contact"];
    const std::string& to = headers["To"];
    const std::string& from = headers["From"];
    const std::string& via = headers["Via"];

    out.clear();
    out.reserve(kFixedLength + statusCode.size() + reason.size() + extraHeaders.size() +
                cseq.size() + callId.size() + contact.size() + to.size() + from.size() +
                via.size());
    out.append("SIP/2.0 ").append(statusCode).append(" ").append(reason).append("\r\n");
    out.append("Via: ").append(via).append("\r\n");
    out.append("From: ").append(from).append("\r\n");
    out.append("To: ").append(to).append(kToTag).append("\r\n");
    out.append("Max-Forwards: 70\r\n");
    out.append("Contact: ").append(contact).append("\r\n");
    out.append("Call-ID: ").append(callId).append("\r\n");
    out.append("CSeq: ").append(cseq).append("\r\n");
    out.append(extraHeaders);
    out.append("Content-Length: 0\r\n\r\n");
    return static_cast<int>(out.size());
}
