#pragma once
// Every touch record as one XML document (a TUIO "/tuio/2Dcur" bundle in
// XML form), followed by one zero byte, to the one connected TCP client.
#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

#include "common/TouchRecords.h"
#include "output/OutputDevice.h"
#include "output/XmlClientLink.h"
#include "output/XmlDocument.h"

// No lock of its own for the document state: its owner (TouchOutputs)
// serialises the sends against the output cycle. The client connection is
// guarded by the XmlClientLink.
class XmlTouchServer : public XmlTouchSink {
 public:
  // `backlogBytes`: how far the client may fall behind (XmlClientLink).
  explicit XmlTouchServer(std::size_t backlogBytes = XmlClientLink::kDefaultBacklogBytes);

  // The output cycle. start: documentCounter 0, nextTouchId 1, previous
  // entries zeroed. stop: when the last document sent listed a touch, one
  // more goes out first, the one a lift of every finger gives (as many
  // entries, all empty), so a client never keeps fingers that are gone; then
  // previous entries gone (sends are ignored until the next start), counters
  // as after start.
  void startCycle();
  void stopCycle();
  bool started() const { return started_; }

  void setDevice(OutputDevice device) { device_ = device; }

  // 2- and 4-point records. The first record after a start, and any record
  // that follows one with no touch in its first entry, only updates the
  // previous entries; the others are sent.
  void sendFrameDocument(const TouchFrame& frame) override;
  // Multi-touch records: always sent, `count` entries (at most 32). Rewrites
  // the state field of each entry it walks to the entry's identifier.
  void sendTableDocument(ContactTable& table, std::uint16_t count) override;

  // documentCounter + 1, then the document of entries[0 .. n) replaces the
  // stored one (n == 0: the empty document).
  void buildTouchDocument(const XmlEntry* entries, int n);

  std::string_view document() const { return {document_.get(), documentLength_}; }
  std::int32_t documentCounter() const { return documentCounter_; }
  std::int32_t nextTouchId() const { return nextTouchId_; }
  XmlClientLink& link() { return link_; }
  // Documents that reached a client, from any thread.
  std::uint64_t documentsSent() const { return sent_.load(std::memory_order_relaxed); }

 private:
  void sendDocument();
  std::int32_t takeTouchId();
  void sendLiftDocument();

  XmlClientLink link_;
  std::atomic<std::uint64_t> sent_{0};
  OutputDevice device_;
  bool started_ = false;
  std::int32_t documentCounter_ = 0;
  std::int32_t nextTouchId_ = 1;
  // The last document built (every one built is sent): its entry count and
  // whether it listed a touch.
  int lastDocumentEntries_ = 0;
  bool lastDocumentTouched_ = false;
  // Identifiers outlive the output cycle, as does the stored document.
  std::array<std::int32_t, 4> slotIds_{};
  std::array<std::int32_t, kContactTableSize> positionIds_{};
  // Written by frame sends (2 or 4 entries), read by both.
  std::array<XmlEntry, kMaxXmlEntries> previousEntries_{};
  std::unique_ptr<char[]> document_;
  std::size_t documentLength_ = 0;
};
