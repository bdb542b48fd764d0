#pragma once
// The main connection is made once per process and reads its server address
// then. Tests that touch it call this first: it points the connection at a
// closed local port and stops its timer, so that nothing reaches the network
// and nothing reconnects behind the test's back.
void UseLocalMainConnection();
