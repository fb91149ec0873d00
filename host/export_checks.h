// Checks hap-export makes before an export starts, for sources and settings
// the export would take and then spoil: an audio file that is not raw
// samples, and lengths or rates whose durations the host's tick count or the
// movie's fields cannot hold.
#pragma once
#include <cstddef>
#include <string>
#include <string_view>

#include "host/stand_in_host.h"

namespace host {

// Enough of a file's first bytes for audio_container().
constexpr size_t audio_signature_length = 12;

// The kind of audio file `head`, a file's first bytes, is the start of
// ("WAVE", "FLAC", ...); empty when it is none that audio_container knows.
std::string_view audio_container(std::string_view head);

// What the user gave, for the messages: the source rate (--rate) and the
// export rate (--param ADBEVideoFPS, else the source rate), as written.
struct Rate_Texts {
  std::string source;
  std::string export_rate;
};

// Why the export of the host's source at its current parameters cannot be
// held, in the user's units: its length in ticks of the host (64 bits), the
// export frame rate as the movie keeps it (in thousandths when not whole, in
// a 32-bit time scale), the movie's 32-bit durations, and with audio its length in samples (32 bits). Empty
// when it can.
std::string duration_problem(const Stand_In_Host& host, bool audio, const Rate_Texts& rates);

}  // namespace host
