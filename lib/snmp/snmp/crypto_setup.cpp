// OpenSSL set-up (being written).
