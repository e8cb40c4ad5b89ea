// Tests of the BER codec (being written).
