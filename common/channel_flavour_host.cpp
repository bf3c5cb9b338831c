#include "channel.h"

const ChannelFlavour kChannelFlavour = {
    /*trace_before_slot_test=*/false,
    /*log_initialising=*/false,
    /*log_size=*/false,
    /*trace_recv=*/true,
};
