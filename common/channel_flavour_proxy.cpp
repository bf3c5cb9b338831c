#include "channel.h"

const ChannelFlavour kChannelFlavour = {
    /*trace_before_slot_test=*/true,
    /*log_initialising=*/true,
    /*log_size=*/true,
    /*trace_recv=*/false,
};
