#pragma once

#include "acquisition/DataFile.h"

class ProfileStore;
class TChannel;

// The part of a channel that goes into its data-file record, as the channel's section of
// Sys.ini configures it (with the defaults of a channel never configured).
[[nodiscard]] ChannelInfo ConfiguredChannel(const ProfileStore &settings, int index);
// The same fields of a channel object, for the channel record.
[[nodiscard]] ChannelInfo ChannelRecordOf(const TChannel &channel);
// Sets those fields; an opened file does this with its records, a start with the configured ones.
void ApplyChannelRecord(TChannel &channel, const ChannelInfo &info);
