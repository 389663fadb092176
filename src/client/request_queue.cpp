#include "client/request_queue.h"

#include "client/quote_session.h"
#include "net/realtime_messages.h"

namespace tessaro {

bool RequestQueue::Next(QuoteSession& session) {
    if (packets_.empty()) return false;
    Bytes packet = std::move(packets_.front());
    packets_.pop_front();
    return session.SendPacket(packet);
}

bool Subscriptions::SendQuotes(QuoteSession& session, const std::string& tag,
                               const std::vector<SecurityHandle>& handles) {
    QuoteSubscribe m;
    m.tag = tag;
    m.handles = handles;
    // A list above the server's limit is cut to it rather than refused.
    if (m.handles.size() > kMaxSubscribeHandles) m.handles.resize(kMaxSubscribeHandles);
    return session.Send(m, window_) != 0;
}

bool Subscriptions::SendFlow(QuoteSession& session, const std::vector<SecurityHandle>& handles) {
    FlowSubscribe m;
    m.handles = handles;
    return session.Send(m, window_) != 0;
}

bool Subscriptions::SetQuotes(QuoteSession& session, const std::string& tag, std::vector<SecurityHandle> handles) {
    bool sent = SendQuotes(session, tag, handles);
    if (handles.empty())
        quotes_.erase(tag);
    else
        quotes_[tag] = std::move(handles);
    return sent;
}

bool Subscriptions::SetFlow(QuoteSession& session, std::vector<SecurityHandle> handles) {
    bool sent = SendFlow(session, handles);
    flow_ = std::move(handles);
    return sent;
}

void Subscriptions::EndAll(QuoteSession& session) {
    for (const auto& [tag, handles] : quotes_) SendQuotes(session, tag, {});
    quotes_.clear();
    if (!flow_.empty()) SendFlow(session, {});
    flow_.clear();
}

void Subscriptions::Renew(QuoteSession& session) {
    for (const auto& [tag, handles] : quotes_) SendQuotes(session, tag, handles);
    if (!flow_.empty()) SendFlow(session, flow_);
}

const std::vector<SecurityHandle>* Subscriptions::quotes(const std::string& tag) const {
    auto it = quotes_.find(tag);
    return it == quotes_.end() ? nullptr : &it->second;
}

}  // namespace tessaro
