// The refusal shown when echo requests cannot be sent: why, and the commands that fix it, each
// whole on a line of its own, selectable and with a button that copies it.
#pragma once

#include "probe/echo_probe.h"

#include <memory>

class QDialog;

namespace quorvel {

// `win_echo_refusal`, without owner and modal for the whole program; not shown yet.
std::unique_ptr<QDialog> make_echo_refusal(const echo_availability& echo);

// Shows it and returns once it is dismissed.
void show_echo_refusal(const echo_availability& echo);

}  // namespace quorvel
