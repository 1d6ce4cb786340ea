// placeholder until the subsystem's first file lands
