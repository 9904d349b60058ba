// Ranks the conversations on a thread of its own: at a million of them the
// sort takes longer than a refresh of the window may.
#pragma once

#include <QObject>
#include <cstdint>
#include <functional>
#include <optional>
#include <thread>
#include <vector>

#include "capture/conversation_ranking.h"

namespace orvanel {

class ConversationRanker final : public QObject {
 public:
  using Done = std::function<void(std::vector<ConversationId>)>;

  // The table outlives the ranker; done is called on this object's thread
  // with the ranking of the latest request.
  ConversationRanker(const ConversationTable& table, Done done, QObject* parent = nullptr);
  ~ConversationRanker() override;  // waits for a running ranking

  // Starts a ranking, or, while one runs, the next one; a ranking asked for
  // earlier is not handed over.
  void Request(RankingRequest request);
  // Rankings asked for so far are not handed over: the table was emptied.
  void Forget() { ++serial_; }
  [[nodiscard]] bool Running() const { return thread_.joinable(); }

 private:
  void StartNext();
  void Finished(std::uint64_t serial, std::vector<ConversationId> ranking);

  const ConversationTable& table_;
  Done done_;
  std::optional<RankingRequest> next_;
  std::uint64_t serial_ = 0;  // of the latest request
  std::thread thread_;
};

}  // namespace orvanel
