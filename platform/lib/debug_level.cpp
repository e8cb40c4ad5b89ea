// Debug level of the process (being written).
