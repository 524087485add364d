/* The hook by which the dial-up server's relay sees each IPv4 datagram from
   the guest before lwIP checks whom it is for (see platform/dialup/Relay.cpp).
   Returns nonzero when it has taken the datagram. */
#ifndef RS232C_DIALUP_HOOKS_H
#define RS232C_DIALUP_HOOKS_H

#ifdef __cplusplus
extern "C" {
#endif
struct pbuf;
struct netif;
int rs232c_dialup_ip4_input(struct pbuf* p, struct netif* input);
#ifdef __cplusplus
}
#endif

#endif
