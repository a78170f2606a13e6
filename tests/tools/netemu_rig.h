// Drives the far end on virtual time and plays the program's side of the
// dialogue as the protocol describes it.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/ebcdic.h"
#include "engine/far_end.h"

namespace korval::netemu::testing {

class Rig {
 public:
  explicit Rig(Options options) : far_end_(std::move(options)) {}

  FarEnd& far_end() { return far_end_; }
  const Report& report() const { return far_end_.report(); }
  std::uint64_t now() const { return now_; }

  void Open() {
    far_end_.OnConnected(now_);
    Collect();
  }
  void Close() {
    far_end_.OnHangUp(now_);
    Collect();
  }
  void Send(std::string_view bytes) {
    far_end_.OnBytes(bytes, now_);
    Collect();
  }
  void Break(bool on) {
    far_end_.OnBreak(on, now_);
    Collect();
  }

  // Lets ms pass, firing every deadline on the way.
  void Advance(std::uint64_t ms) {
    const std::uint64_t end = now_ + ms;
    while (auto due = far_end_.NextDeadline()) {
      if (*due > end) break;
      now_ = std::max(now_, *due);
      far_end_.OnTick(now_);
      Collect();
    }
    now_ = end;
    far_end_.OnTick(now_);
    Collect();
  }

  // Waits until the program has received text, and consumes what came up
  // to its end; false when it does not come within limit_ms.
  bool Expect(std::string_view text, std::uint64_t limit_ms = 60000) {
    const std::uint64_t end = now_ + limit_ms;
    for (;;) {
      if (const auto at = unread_.find(text); at != std::string::npos) {
        unread_.erase(0, at + text.size());
        return true;
      }
      const auto due = far_end_.NextDeadline();
      if (!due || *due > end) {
        Advance(end - now_);
        if (const auto at = unread_.find(text); at != std::string::npos) {
          unread_.erase(0, at + text.size());
          return true;
        }
        return false;
      }
      Advance(*due > now_ ? *due - now_ : 0);
    }
  }

  std::string TakeUnread() { return std::exchange(unread_, {}); }
  const std::string& all_output() const { return all_; }
  bool dropped() const { return drops_ > 0; }
  const std::vector<Action>& actions() const { return actions_; }

 private:
  void Collect() {
    for (Action& action : far_end_.TakeActions()) {
      EXPECT_LE(action.at_ms, now_);
      if (action.kind == Action::Kind::kSend) {
        unread_ += action.bytes;
        all_ += action.bytes;
      } else {
        ++drops_;
      }
      actions_.push_back(std::move(action));
    }
  }

  FarEnd far_end_;
  std::uint64_t now_ = 1000;
  std::string unread_;
  std::string all_;
  int drops_ = 0;
  std::vector<Action> actions_;
};

inline std::string Pad(std::string text, std::size_t width, char fill = ' ') {
  text.resize(width, fill);
  return text;
}

inline std::string E(std::string_view ansi) { return EncodeEbcdic(ansi); }

inline const std::string kEndRecord = Pad("FF", 20);
inline const std::string kAckRecord = Pad("OKF", 20);

// How the program ends a record: a carriage return, or under profile 7
// quiet, a break (seen or not by the host) and quiet again.
struct Signal {
  bool profile7 = false;
  bool break_visible = false;
};

inline void EndRecord(Rig& rig, Signal signal) {
  if (!signal.profile7) {
    rig.Send("\r");
    return;
  }
  rig.Advance(2000);
  if (signal.break_visible) rig.Break(true);
  rig.Advance(2000);
  if (signal.break_visible) rig.Break(false);
}

inline Options FastOptions() {
  Options o;
  o.bank_number = "175010123";
  o.dial_delay_ms = 100;
  return o;
}

// ATZ, ATE0, dial; true when CONNECT came.
inline bool DialUp(Rig& rig, const std::string& number = "3613") {
  rig.Open();
  rig.Send("ATZ\r");
  if (!rig.Expect("OK\r\n", 100)) return false;
  rig.Send("ATE0\r");
  if (!rig.Expect("OK\r\n", 100)) return false;
  rig.Send("ATDT" + number + "\r");
  return rig.Expect("CONNECT 9600\r\n", 60000);
}

struct CallLine {
  bool profile7 = false;
  std::string nui;
  std::string address = "175010123";
  std::string complement;
};

// Banner, PROF7, the call line in the program's writes; true when COM came.
inline bool PadDialogue(Rig& rig, const CallLine& call) {
  if (!rig.Expect("TRANSPAC", 60000)) return false;
  if (call.profile7) rig.Send("PROF7\r");
  rig.Advance(500);
  if (!call.nui.empty()) {
    rig.Send("N");
    rig.Send(call.nui);
    rig.Send("-");
  }
  std::string address = call.address;
  if (!call.complement.empty()) address += "D" + call.complement;
  rig.Send(address);
  rig.Send("\r");
  const bool com = rig.Expect("COM", 60000);
  rig.TakeUnread();
  return com;
}

inline void SendRecord(Rig& rig, const std::string& ansi, Signal signal,
                       std::uint64_t pause = 100) {
  rig.Send(E(ansi));
  EndRecord(rig, signal);
  rig.Advance(pause);
}

// Up to an accepted card; the unread output then starts after the answer.
inline bool ConnectAndSendCard(Rig& rig, const CallLine& call, const std::string& card,
                               Signal signal) {
  if (!DialUp(rig) || !PadDialogue(rig, call)) return false;
  rig.Send(E(Pad(card, 80)));
  EndRecord(rig, signal);
  return rig.Expect(E("OK "), 60000);
}

}  // namespace korval::netemu::testing
