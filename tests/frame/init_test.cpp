// Tests of the library frame (being written).
