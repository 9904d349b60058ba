#include "ui/conversation_ranker.h"

#include <memory>

namespace orvanel {

ConversationRanker::ConversationRanker(const ConversationTable& table, Done done, QObject* parent)
    : QObject(parent), table_(table), done_(std::move(done)) {}

ConversationRanker::~ConversationRanker() {
  if (thread_.joinable()) thread_.join();
}

void ConversationRanker::Request(RankingRequest request) {
  next_ = std::move(request);
  ++serial_;
  if (!Running()) StartNext();
}

void ConversationRanker::StartNext() {
  if (!next_) return;
  thread_ = std::thread([this, request = std::move(*next_), serial = serial_] {
    auto ranking = std::make_shared<std::vector<ConversationId>>(RankConversations(table_, request));
    // Dropped by Qt when the ranker is gone by then.
    QMetaObject::invokeMethod(
        this, [this, serial, ranking] { Finished(serial, std::move(*ranking)); }, Qt::QueuedConnection);
  });
  next_.reset();
}

void ConversationRanker::Finished(std::uint64_t serial, std::vector<ConversationId> ranking) {
  thread_.join();
  if (serial == serial_) done_(std::move(ranking));
  StartNext();
}

}  // namespace orvanel
