// BER codec (being written).
