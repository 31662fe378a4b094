#pragma once
// Resource and control ids of the launcher's dialogs: the progress dialog (which the steps
// reach through core::Progress only) and the runtime selection dialog.

namespace shipkit::core {

inline constexpr int kProgressDialog = 103;
inline constexpr int kSelectionDialog = 104;
inline constexpr int kIconProduct = 1001;
inline constexpr int kProgressBar = 1001;
inline constexpr int kStatusText = 1002;
inline constexpr int kMainText = 1003;

}  // namespace shipkit::core
