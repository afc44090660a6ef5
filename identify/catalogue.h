// The printers the tool can upgrade, and which firmware set each one needs.
#pragma once

#include "base/state.h"

#include <vector>

// The strings are constants of the program; a family only refers to them.
struct ModelFamily {
    const WCHAR *displayName;     // looked for inside a device's model string
    const WCHAR *queueStyleName;  // display name with blanks as underscores
    std::vector<const WCHAR *> productNumbers;
    FirmwareKind firmwareKind;
};

// Ordered: the matching rule visits the families in this order and the last
// match wins, which is what lets the longer, later names override the
// shorter ones they contain.
typedef std::vector<ModelFamily> ModelCatalogue;

extern ModelCatalogue modelCatalogue;

// Appends the built-in families to modelCatalogue. Called once at start-up.
void buildModelCatalogue();

// Returns 1 when any family matches the model string and leaves the kind of
// the last matching family in upgradeState.firmwareKind; returns 0 and leaves
// firmwareKind alone when none does.
int matchModelFamily(const WCHAR *model);

// The kind of the last family that matches the model string, FirmwareNone
// when none does; changes nothing.
FirmwareKind modelFamilyKind(const WCHAR *model);
