#include "identify/catalogue.h"

#include <cwchar>

ModelCatalogue modelCatalogue;

namespace {

// Product numbers shared between a base family and its later plot-language
// twin. A model string that names only the product number therefore ends on
// the twin, which comes later in the catalogue.
const WCHAR *const vx350Numbers[] = {L"R2461A", L"R2461B", L"R2461L", L"R2461Z",
                                     L"R2462A", L"R2462B", L"R2462L", L"R2462Z"};
const WCHAR *const vx350psNumbers[] = {L"R2461C", L"R2461M", L"R2462C", L"R2462M"};
const WCHAR *const vx350monoNumbers[] = {L"R2461E", L"R2462E"};
const WCHAR *const vx355_24Numbers[] = {L"RK514A"};
const WCHAR *const vx355_42Numbers[] = {L"RK515A"};
const WCHAR *const vx355ps24Numbers[] = {L"RM830A"};
const WCHAR *const vx355ps42Numbers[] = {L"RM831A"};
const WCHAR *const vx350plusNumbers[] = {L"R2461F", L"R2462F"};
const WCHAR *const vx350psplusNumbers[] = {L"R2461G", L"R2462G"};
const WCHAR *const vx650Numbers[] = {L"R2471A", L"R2471B", L"R2471L", L"R2471Z",
                                     L"R2472A", L"R2472B", L"R2472L", L"R2472Z"};
const WCHAR *const vx650psNumbers[] = {L"R2471C", L"R2471M", L"R2472C", L"R2472M"};

template <size_t N>
void addFamily(const WCHAR *displayName, const WCHAR *queueStyleName,
               const WCHAR *const (&numbers)[N], FirmwareKind kind)
{
    modelCatalogue.push_back(
        ModelFamily{displayName, queueStyleName, std::vector<const WCHAR *>(numbers, numbers + N), kind});
}

bool contains(const WCHAR *text, const WCHAR *piece)
{
    return std::wcsstr(text, piece) != nullptr;
}

}  // namespace

void buildModelCatalogue()
{
    addFamily(L"Tarnell Vellumax 350", L"Tarnell_Vellumax_350", vx350Numbers, FirmwareStandard);
    addFamily(L"Tarnell Vellumax 350ps", L"Tarnell_Vellumax_350ps", vx350psNumbers, FirmwareStandard);
    addFamily(L"Tarnell Vellumax 350 mono", L"Tarnell_Vellumax_350_mono", vx350monoNumbers, FirmwareStandard);
    addFamily(L"Tarnell Vellumax 355 24in Printer", L"Tarnell_Vellumax_355_24in_Printer", vx355_24Numbers,
              FirmwarePlotLanguage);
    addFamily(L"Tarnell Vellumax 355 42in Printer", L"Tarnell_Vellumax_355_42in_Printer", vx355_42Numbers,
              FirmwarePlotLanguage);
    addFamily(L"Tarnell Vellumax 355ps 24in Printer", L"Tarnell_Vellumax_355ps_24in_Printer", vx355ps24Numbers,
              FirmwarePlotLanguage);
    addFamily(L"Tarnell Vellumax 355ps 42in Printer", L"Tarnell_Vellumax_355ps_42in_Printer", vx355ps42Numbers,
              FirmwarePlotLanguage);
    addFamily(L"Tarnell Vellumax 350 plus", L"Tarnell_Vellumax_350_plus", vx350plusNumbers, FirmwarePlotLanguage);
    addFamily(L"Vellumax 350 mono+KPLOT", L"Vellumax_350_mono+KPLOT", vx350monoNumbers, FirmwarePlotLanguage);
    addFamily(L"Tarnell Vellumax 350ps plus", L"Tarnell_Vellumax_350ps_plus", vx350psplusNumbers,
              FirmwarePlotLanguage);
    addFamily(L"Vellumax 350+KPLOT", L"Vellumax_350+KPLOT", vx350Numbers, FirmwarePlotLanguage);
    addFamily(L"Vellumax 350PS+KPLOT", L"Vellumax_350PS+KPLOT", vx350psNumbers, FirmwarePlotLanguage);
    addFamily(L"Vellumax 650", L"Vellumax_650", vx650Numbers, FirmwareDiskStaged);
    addFamily(L"Vellumax 650PS", L"Vellumax_650PS", vx650psNumbers, FirmwareDiskStaged);
}

FirmwareKind modelFamilyKind(const WCHAR *model)
{
    if (model == nullptr)
        return FirmwareNone;

    FirmwareKind kind = FirmwareNone;
    // Every family is visited: a later match overrides an earlier one.
    for (const ModelFamily &family : modelCatalogue) {
        if (contains(model, family.displayName)) {
            kind = family.firmwareKind;
            continue;
        }
        for (const WCHAR *number : family.productNumbers) {
            if (!contains(model, number))
                continue;
            kind = family.firmwareKind;
            // A plot-language option shows only in the model string, not in
            // the product number, so it decides the kind after a number match.
            if (contains(model, L"KPLOT"))
                kind = FirmwarePlotLanguage;
        }
    }
    return kind;
}

int matchModelFamily(const WCHAR *model)
{
    const FirmwareKind kind = modelFamilyKind(model);
    if (kind == FirmwareNone)
        return 0;
    upgradeState.firmwareKind = kind;
    return 1;
}
