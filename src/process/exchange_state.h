#pragma once

namespace korval::exchange {

// Main thread only.
struct ExchangeState {
  bool send_file_running = false;
  bool receive_statement_running = false;
};

}  // namespace korval::exchange
