#pragma once
// Owning wrappers for the mbed TLS contexts: each one initialises its context on
// construction and frees it (the library wipes what it held) when it goes out of scope,
// so every return path releases it.

#include <mbedtls/aes.h>
#include <mbedtls/bignum.h>
#include <mbedtls/ctr_drbg.h>
#include <mbedtls/ecp.h>
#include <mbedtls/entropy.h>
#include <mbedtls/md.h>
#include <mbedtls/sha256.h>

namespace orvanta {

template <typename Context, void (*Init)(Context*), void (*Free)(Context*)>
class MbedContext {
  public:
    MbedContext() { Init(&context_); }
    ~MbedContext() { Free(&context_); }
    MbedContext(const MbedContext&) = delete;
    MbedContext& operator=(const MbedContext&) = delete;

    Context* get() { return &context_; }
    const Context* get() const { return &context_; }

  private:
    Context context_;
};

using Mpi = MbedContext<mbedtls_mpi, mbedtls_mpi_init, mbedtls_mpi_free>;
using EcpGroup = MbedContext<mbedtls_ecp_group, mbedtls_ecp_group_init, mbedtls_ecp_group_free>;
using EcpPoint = MbedContext<mbedtls_ecp_point, mbedtls_ecp_point_init, mbedtls_ecp_point_free>;
using EcpKeypair =
    MbedContext<mbedtls_ecp_keypair, mbedtls_ecp_keypair_init, mbedtls_ecp_keypair_free>;
using EntropyContext =
    MbedContext<mbedtls_entropy_context, mbedtls_entropy_init, mbedtls_entropy_free>;
using CtrDrbgContext =
    MbedContext<mbedtls_ctr_drbg_context, mbedtls_ctr_drbg_init, mbedtls_ctr_drbg_free>;
using AesContext = MbedContext<mbedtls_aes_context, mbedtls_aes_init, mbedtls_aes_free>;
using Sha256Context = MbedContext<mbedtls_sha256_context, mbedtls_sha256_init, mbedtls_sha256_free>;
using MdContext = MbedContext<mbedtls_md_context_t, mbedtls_md_init, mbedtls_md_free>;

}  // namespace orvanta
