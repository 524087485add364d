/* lwIP as the dial-up server uses it: one stack, driven without an operating
   system (NO_SYS) from the line's service step, with fixed pools so that
   nothing a guest or a peer sends makes it grow. Read by every lwIP file. */
#ifndef RS232C_LWIPOPTS_H
#define RS232C_LWIPOPTS_H

#define NO_SYS                      1
#define SYS_LIGHTWEIGHT_PROT        0
#define LWIP_SOCKET                 0
#define LWIP_NETCONN                0
#define LWIP_NETIF_API              0

/* Memory: lwIP's own heap and pools, statically sized. */
#define MEM_LIBC_MALLOC             0
#define MEMP_MEM_MALLOC             0
#define MEM_ALIGNMENT               8
#define MEM_SIZE                    (256 * 1024)
#define MEMP_NUM_PBUF               32
#define MEMP_NUM_RAW_PCB            0
#define MEMP_NUM_UDP_PCB            2
#define MEMP_NUM_TCP_PCB            80
#define MEMP_NUM_TCP_PCB_LISTEN     2
#define MEMP_NUM_TCP_SEG            512
#define MEMP_NUM_REASSDATA          4
#define MEMP_NUM_FRAG_PBUF          8
#define PBUF_POOL_SIZE              32
#define PBUF_POOL_BUFSIZE           1600
#define MEMP_NUM_PPP_PCB            1
#define MEMP_NUM_PPPOS_INTERFACES   1

/* IPv4 only, no ARP (a point-to-point link). */
#define LWIP_IPV4                   1
#define LWIP_IPV6                   0
#define LWIP_ARP                    0
#define LWIP_ETHERNET               0
#define LWIP_ICMP                   1
#define LWIP_RAW                    0
#define LWIP_DHCP                   0
#define LWIP_AUTOIP                 0
#define LWIP_IGMP                   0
#define IP_FORWARD                  0
#define IP_REASSEMBLY               1
#define IP_FRAG                     1
#define IP_DEFAULT_TTL              64
#define LWIP_UDP                    1
/* Only so that IPCP hands the guest its name servers; the resolver itself is never asked. */
#define LWIP_DNS                    1

/* TCP toward the guest: segments as large as a 1500-byte MTU allows, and a
   few of them in flight each way per connection. */
#define LWIP_TCP                    1
#define TCP_MSS                     1460
#define TCP_WND                     (4 * TCP_MSS)
#define TCP_SND_BUF                 (4 * TCP_MSS)
#define TCP_SND_QUEUELEN            (4 * TCP_SND_BUF / TCP_MSS)
#define TCP_QUEUE_OOSEQ             0
#define TCP_LISTEN_BACKLOG          0
#define TCP_CALCULATE_EFF_SEND_MSS  1
/* The guest's side of a relayed connection is inside this process: a short
   TIME-WAIT is enough, and it frees the connection's slot sooner. */
#define TCP_MSL                     2000UL
#define LWIP_TCP_KEEPALIVE          0
#define LWIP_CALLBACK_API           1

#define LWIP_NETIF_STATUS_CALLBACK  0
#define LWIP_NETIF_LINK_CALLBACK    0
#define LWIP_NETIF_HOSTNAME         0
#define LWIP_SINGLE_NETIF           0
#define LWIP_HAVE_LOOPIF            0
#define LWIP_NETIF_LOOPBACK         0

/* The relay's view of every datagram the guest sends, before lwIP's own. */
#define LWIP_HOOK_FILENAME          "platform/dialup/lwip/DialupHooks.h"
#define LWIP_HOOK_IP4_INPUT(pbuf, input_netif) rs232c_dialup_ip4_input((pbuf), (input_netif))

/* PPP over the serial line, as the answering side. */
#define PPP_SUPPORT                 1
#define PPPOS_SUPPORT               1
#define PPP_SERVER                  1
#define PPP_IPV4_SUPPORT            1
#define PPP_IPV6_SUPPORT            0
#define PPP_NOTIFY_PHASE            1
#define PAP_SUPPORT                 1
#define CHAP_SUPPORT                1
#define MSCHAP_SUPPORT              0
#define EAP_SUPPORT                 0
#define CCP_SUPPORT                 0
#define MPPE_SUPPORT                0
#define ECP_SUPPORT                 0
#define VJ_SUPPORT                  1
#define LQR_SUPPORT                 0
#define PPP_MD5_RANDM               0
#define LWIP_USE_EXTERNAL_POLARSSL  0
#define LWIP_USE_EXTERNAL_MBEDTLS   0
#define PPP_MRU                     1500
#define PPP_DEFMRU                  1500
#define PPP_MAXMRU                  1500
#define PRINTPKT_SUPPORT            0
#define PPP_DEBUG                   LWIP_DBG_OFF

/* Counters the tests and figures read: what the pools hold now. */
#define LWIP_STATS                  1
#define LWIP_STATS_DISPLAY          0
#define MEMP_STATS                  1
#define MEM_STATS                   1
#define PBUF_STATS                  0
#define LINK_STATS                  1
#define IP_STATS                    1
#define TCP_STATS                   1
#define UDP_STATS                   0
#define ICMP_STATS                  0
#define SYS_STATS                   0
#define IPFRAG_STATS                0

#define LWIP_RAND()                 rs232c_dialup_random()

#endif
