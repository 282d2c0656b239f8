// The history the predictor learns from, as the calibration records keep
// it: every point of automatic alignment is one record (event "align") with
// its final value as the new value, "pass: ..." at the head of its detail
// and, where the run saw one, the slope as "slope=N" (AlignRecords.cpp).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "align/Predictor.h"
#include "records/RecordStore.h"
#include "util/Error.h"

namespace varnel {

// The passed points among `records` (any event other than "align" and any
// other outcome are left out), oldest first as given. A radio is told apart
// by its record's session, else its serial.
std::vector<HistoryEntry> HistoryFromRecords(const std::vector<CalibrationRecord>& records);

// The alignment records of radios of `model` with `firmware` in `store`.
Result<std::vector<HistoryEntry>> LoadAlignHistory(RecordStore& store, const std::string& model,
                                                   const std::string& firmware);

// The predictor of a radio of `model` with `firmware`: the history of its
// model and firmware in `store`. None without a store or without history;
// a history that cannot be read is also none, and `warning` says why (the
// points then start at the radio's values, as for a model's first radio).
std::optional<Predictor> PredictorFromRecords(RecordStore* store, const std::string& model,
                                              const std::string& firmware, Error* warning = nullptr);

// The compact text a point's record carries for the predictor:
// "pred=123 slope=0.0412 hist=9", the parts that are known ("" for none).
std::string PredictorDetail(const std::optional<int>& predicted, const std::optional<double>& slope,
                            int historySize);

}  // namespace varnel
