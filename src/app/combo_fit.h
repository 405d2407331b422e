// Drop-down combos narrower than their texts, as a dialog laid out in dialog units may have: the
// combo keeps its place and size, and its text is made to fit.
#pragma once

class QComboBox;

namespace tollwick {

// Gives the combo a drop-down arrow as narrow as stays easy to hit, so that its text gets the
// width the style's wide arrow would take. The combo's look is otherwise the style's.
void UseNarrowArrow(QComboBox* combo);

// Makes the widest entry of the combo fit its text field, whole: the dialog's font if it fits,
// else its regular weight, then its condensed face, then smaller sizes down to 7 points. Call
// after the entries change; the drop-down list keeps the dialog's font.
void FitTextToCombo(QComboBox* combo);

// The width of the combo's text field, and the width its entries need in the field's font.
int ComboTextRoom(const QComboBox* combo);
int ComboTextNeed(const QComboBox* combo);

}  // namespace tollwick
