// The BCSP link layer: a polled engine that establishes the link with the module (SYNC, SYNC
// RESP, CONF, CONF RESP), sends one caller packet at a time (reliable packets are re-sent until
// acknowledged, window of one), acknowledges what it receives, notices a peer that restarts the
// link, and delivers received packets into the caller's buffer.
//
// Contract: purely reactive. The engine has no thread and no timer; it advances only in Poll,
// which hands the port at most one byte of a frame (the closing delimiter rides with the last)
// and reads what the port holds while a receive descriptor is armed. The port decides when what
// it was handed goes to the line (see serial_port.h).
// Every delay is counted in polls. Nothing allocates, nothing fails: lost and damaged frames are
// made up for by acknowledgements and re-sending, with no limit on attempts (bounding time is the
// caller's business). Single-threaded: all calls from the thread that owns the serial port.
//
// Buffers: the caller owns every BcspPacket and its payload. A queued packet is the engine's from
// QueueSend until a poll reports TxDone; an armed descriptor from ArmReceive until RxDone.
#pragma once

#include <array>
#include <cstdint>

#include "bcsp/bcsp_codec.h"
#include "bcsp/console.h"
#include "bcsp/serial_port.h"
#include "platform/clock.h"
#include "trace/format.h"

namespace quillon {

struct BcspPacket {
  std::uint8_t channel = 0;
  std::uint8_t reliable = 0;
  std::uint8_t useCrc = 1;  // every frame carries a CRC whatever this says
  // To send: the payload length (1..4095). To receive: the buffer's capacity, which must leave
  // room for the two CRC bytes; on delivery the received payload length.
  std::uint16_t length = 0;
  std::uint8_t* payload = nullptr;
};

enum LinkState : std::uint8_t { Uninitialized = 0, Initialized = 1, Active = 2 };

enum LinkActivity : std::uint8_t {
  TxDone = 0x01,      // the send slot is free
  RxDone = 0x02,      // a packet was delivered and the descriptor given back
  PeerReset = 0x04,   // the peer restarted the link; the engine starts establishment again
  RxReliable = 0x08,  // the delivered packet was reliable and in sequence
};

// The link message to send after the one being loaded, by link state and the peer's pending
// request (kLinkSync, kLinkConf or kLinkNone). kLinkNone only while Active.
LinkMessage FollowingLinkMessage(LinkState state, LinkMessage pendingRequest);

class BcspLink {
 public:
  static constexpr std::int8_t kFramePause = 25;

  // All three outlive the engine.
  BcspLink(SerialPort& port, platform::Clock& clock, Console& console);
  BcspLink(const BcspLink&) = delete;
  BcspLink& operator=(const BcspLink&) = delete;

  // Starts link establishment again: Uninitialized, sequence numbers 0, SYNC next, no request of
  // the peer pending; a frame being sent or received is abandoned. The queued packet and the
  // armed descriptor stay.
  void Initialise();
  // Queues the one packet in flight; a frame being sent is cut off. False (nothing queued) for a
  // packet whose length cannot be expressed on the wire or that has no buffer.
  bool QueueSend(BcspPacket* packet);
  void ArmReceive(BcspPacket* packet);
  // One step; *activity gets the LinkActivity bits raised. Returns the pause: 0 asks to be polled
  // again at once, n > 0 that the next n polls will not transmit.
  std::uint8_t Poll(std::uint8_t* activity);
  // The receive step of a poll on its own, for a caller that waits on the line during a pause:
  // takes what the port holds while a descriptor is armed, sends nothing and leaves the pause
  // count as it is (a frame that drops the pause to 0 still does). *activity gets the bits
  // raised. Returns whether a byte was taken.
  bool TakeInput(std::uint8_t* activity);
  // Whether the frame that the transmitter loads next, once the pause is over, is one the link
  // has not sent before, once Active: an answer to the peer's CONF, the queued packet's first
  // sending, an acknowledgement, or the one link message left over from establishment. Repeats (SYNC
  // and CONF during establishment, re-sends) are what the pause spaces.
  bool NewFrameNext() const;

  LinkState State() const { return state_; }
  std::uint8_t TransmitSeq() const { return txSeq_; }
  std::uint8_t ReceiveAck() const { return rxAck_; }
  std::int8_t PauseCounter() const { return pause_; }

 private:
  struct Segment {
    const std::uint8_t* bytes = nullptr;
    std::size_t count = 0;
  };

  void StartFrame(std::uint8_t* header, bool computeChecksum, const std::uint8_t* payload, std::size_t length);
  void EmitByte(std::uint8_t* frameEnd, std::uint8_t* activity);
  bool ChooseNextFrame(std::uint8_t* frameEnd);
  void Receive(std::uint8_t byte, std::uint8_t* activity);
  std::uint8_t ProcessFrame(const BcspDeframed& frame);
  void AbandonFrame();
  void Print(std::string_view text) { console_.Write(text); }
  template <typename... Args>
  void Printf(NarrowFormat<Args...> format, const Args&... args);
  int Tick() const { return static_cast<int>(clock_.TickCount() % 100000u); }

  SerialPort& port_;
  platform::Clock& clock_;
  Console& console_;

  LinkState state_ = Uninitialized;
  LinkMessage pendingRequest_ = kLinkNone;  // kLinkSync, kLinkConf or kLinkNone
  std::uint8_t nextLinkMessage_ = kLinkSync;
  std::uint8_t txSeq_ = 0;
  std::uint8_t rxAck_ = 0;
  bool ackDue_ = false;
  BcspPacket* queued_ = nullptr;
  bool sendingQueued_ = false;           // the frame on the wire is the queued packet's
  bool queuedLoaded_ = false;            // the queued packet has been loaded at least once
  LinkMessage sendingLink_ = kLinkNone;  // the link message on the wire, if any
  BcspPacket* armed_ = nullptr;
  BcspHeaderBytes rxHeader_{};
  BcspDeframer deframer_;
  Segment current_;
  Segment next_;
  std::uint16_t crc_ = 0;
  bool appendCrc_ = false;
  std::uint8_t pendingEscape_ = 0;
  std::array<std::uint8_t, 2> crcBuffer_{};
  std::array<std::uint8_t, 4> dataHeader_{};
  std::array<std::uint8_t, 4> ackHeader_{};
  std::array<std::uint8_t, 4> linkHeader_ = kLinkHeader;
  std::int8_t pause_ = 0;
};

}  // namespace quillon
