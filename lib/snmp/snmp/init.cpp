// Library frame (being written).
