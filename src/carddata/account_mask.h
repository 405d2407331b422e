// Masking account numbers in whatever a run shows or saves, when masking is asked for.
//
// An account number is recognised where a card carries it: after the format code 'B' of an
// ISO/IEC 7813 track 1 up to the '^' (digits, blanks between groups allowed), and before the '='
// of a track 2 (a run of digits not preceded by another digit). 8 to 19 digits, as card fields
// read them; a number beginning with 636 is an AAMVA licence's issuer and number, not an account,
// and is left as it is. Each is masked as MaskPan masks it (first six and last four digits
// shown, fewer for short numbers), blanks kept, so a text keeps its length and shape: the same
// text in a track line, a JSON string, a CSV field or a message is masked the same way.
#pragma once

#include <string>
#include <string_view>

#include "carddata/track_inspector.h"

namespace tollwick {

// The text with every account number in it masked.
std::string MaskAccountNumbers(std::string_view text);

// An inspection as it may be shown with account numbers masked: its decoded text, the text of
// its characters (each masked character also marked masked, its code no longer to be shown),
// the repaired reading and the candidates' texts. The bits are left as read.
void MaskAccountNumbers(TrackInspection& inspection);

}  // namespace tollwick
