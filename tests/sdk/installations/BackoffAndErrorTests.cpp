// Back-off of registration and token requests, and the errors of the service.
#include <gtest/gtest.h>

#include "platform/foundation/NSString.h"
#include "platform/network/NSURLSession.h"
#include "platform/security/Crypto.h"
#include "sdk/installations/RARUruzariduzuraBackoffController.h"
#include "sdk/installations/RARUruzariduzuraErrorUtil.h"

namespace {
struct SteppedDates {
  double now = 1000;
  RARUruzariduzuraCurrentDateProvider provider() {
    return [this] { return now; };
  }
};
}  // namespace

TEST(Backoff, RecoverableFailuresPauseLongerEachTime) {
  // A jitter of exactly 0.5 s keeps the sums below exact in binary.
  security::setRandomUniformSourceForTesting([](uint32_t) { return 500u; });
  SteppedDates dates;
  RARUruzariduzuraBackoffController backoff(dates.provider());
  EXPECT_TRUE(backoff.isNextRequestAllowed());

  backoff.registerEvent(RARUruzariduzuraBackoffEventRecoverableFailure);
  dates.now += 1.9;
  EXPECT_FALSE(backoff.isNextRequestAllowed());
  dates.now += 1.1;
  EXPECT_TRUE(backoff.isNextRequestAllowed());

  backoff.registerEvent(RARUruzariduzuraBackoffEventRecoverableFailure);
  const double pause = backoff.lastEventData()->backoffTimeInterval();
  EXPECT_EQ(pause, 4.5);
  EXPECT_EQ(backoff.lastEventData()->eventCount(), 2);
  // Inclusive: exactly the pause later the request is allowed.
  dates.now += 4.25;
  EXPECT_FALSE(backoff.isNextRequestAllowed());
  dates.now += 0.25;
  EXPECT_TRUE(backoff.isNextRequestAllowed());
  security::setRandomUniformSourceForTesting(nullptr);
}

TEST(Backoff, JitterStaysBelowASecond) {
  for (int i = 0; i < 200; ++i) {
    const double pause = RARUruzariduzuraBackoffEventData::recoverableErrorBackoffTimeForAttemptNumber(2);
    EXPECT_GE(pause, 4.0);
    EXPECT_LT(pause, 5.0);
  }
}

TEST(Backoff, PausesAreCappedAtHalfAnHour) {
  security::setRandomUniformSourceForTesting([](uint32_t) { return 999u; });
  EXPECT_DOUBLE_EQ(RARUruzariduzuraBackoffEventData::recoverableErrorBackoffTimeForAttemptNumber(1), 2.999);
  EXPECT_DOUBLE_EQ(RARUruzariduzuraBackoffEventData::recoverableErrorBackoffTimeForAttemptNumber(10), 1024.999);
  EXPECT_DOUBLE_EQ(RARUruzariduzuraBackoffEventData::recoverableErrorBackoffTimeForAttemptNumber(11), 1800);
  EXPECT_DOUBLE_EQ(RARUruzariduzuraBackoffEventData::recoverableErrorBackoffTimeForAttemptNumber(200), 1800);
  security::setRandomUniformSourceForTesting(nullptr);
  EXPECT_EQ(RARUruzariduzuraBackoffEventData::backoffTimeIntervalWithEvent(7, 3), 0);
  EXPECT_EQ(RARUruzariduzuraBackoffEventData::backoffTimeIntervalWithEvent(2, 1), 86400);
}

TEST(Backoff, UnrecoverableFailureHoldsForADayUntilASuccess) {
  SteppedDates dates;
  RARUruzariduzuraBackoffController backoff(dates.provider());
  backoff.registerEvent(RARUruzariduzuraBackoffEventUnrecoverableFailure);
  dates.now += 86399.9;
  EXPECT_FALSE(backoff.isNextRequestAllowed());
  backoff.registerEvent(RARUruzariduzuraBackoffEventSuccess);
  EXPECT_TRUE(backoff.isNextRequestAllowed());

  // A change of failure kind starts the count again.
  backoff.registerEvent(RARUruzariduzuraBackoffEventRecoverableFailure);
  backoff.registerEvent(RARUruzariduzuraBackoffEventRecoverableFailure);
  backoff.registerEvent(RARUruzariduzuraBackoffEventUnrecoverableFailure);
  EXPECT_EQ(backoff.lastEventData()->eventCount(), 1);
}

TEST(InstallationsErrors, PublicDomainWrapsForeignErrors) {
  auto urlError = NSError::errorWithDomain(NSURLErrorDomain, NSURLErrorTimedOut,
                                           {{NSLocalizedDescriptionKey, "The request timed out."}});
  auto wrapped = RARUruzariduzuraErrorUtil::publicDomainErrorWithError(urlError);
  EXPECT_EQ(wrapped->domain(), kRARUruzariduzuraErrorDomain);
  EXPECT_EQ(wrapped->code(), 0);
  EXPECT_EQ(wrapped->localizedFailureReason(), std::string("Underlying error: The request timed out."));
  EXPECT_EQ(wrapped->underlyingError(), urlError);

  auto response = std::make_shared<const NSHTTPURLResponse>("https://host/x", 500, NSHTTPHeaderList{});
  NSErrorRef http = RARUruzariduzuraErrorUtil::APIErrorWithHTTPResponse(response, Bytes{'b', 'o', 'd', 'y'});
  EXPECT_EQ(RARUruzariduzuraErrorUtil::publicDomainErrorWithError(http), http);
  EXPECT_TRUE(RARUruzariduzuraErrorUtil::isAPIError(http, 500));
  EXPECT_FALSE(RARUruzariduzuraErrorUtil::isAPIError(http, 404));
  EXPECT_EQ(http->localizedFailureReason(),
            std::string("The server responded with an error: \n - URL: https://host/x \n - HTTP status code: 500 \n "
                        "- Response body: body"));

  auto plain = RARUruzariduzuraErrorUtil::installationsErrorWithCode(0, std::string("x"), nullptr);
  for (int status : {0, 200, 400, 500}) EXPECT_FALSE(RARUruzariduzuraErrorUtil::isAPIError(plain, status));
  EXPECT_EQ(RARUruzariduzuraErrorUtil::installationsErrorWithCode(0, std::nullopt, nullptr)->localizedFailureReason(),
            std::string("Underlying error: (null)"));
  EXPECT_EQ(RARUruzariduzuraErrorUtil::keychainErrorWithFunction("SecItemDelete", -25308)->localizedFailureReason(),
            std::string("SecItemDelete (-25308)"));
  EXPECT_EQ(RARUruzariduzuraErrorUtil::keychainErrorWithFunction("SecItemDelete", -25308)->code(), 1);
  EXPECT_EQ(RARUruzariduzuraErrorUtil::backoffIntervalWaitError()->code(), 2);
}

TEST(InstallationsErrors, HTTPErrorSurvivesACodingRoundTrip) {
  RARUruzariduzuraHTTPError::registerCodingClasses();
  auto response = std::make_shared<const NSHTTPURLResponse>(
      "https://host/v1/projects/p/installations/", 403, NSHTTPHeaderList{{"Content-Type", "application/json"}});
  auto error = RARUruzariduzuraErrorUtil::APIErrorWithHTTPResponse(response, Bytes{'{', '}'});
  NSErrorRef codingError;
  auto data = NSKeyedArchiver::archivedDataWithRootObject(*error, &codingError);
  ASSERT_TRUE(data);
  auto decoded = std::dynamic_pointer_cast<RARUruzariduzuraHTTPError>(NSKeyedUnarchiver::unarchivedObjectOfClasses(
      {RARUruzariduzuraHTTPError::kClassName, "NSHTTPURLResponse"}, *data, &codingError));
  ASSERT_TRUE(decoded) << (codingError ? codingError->description() : "");
  EXPECT_EQ(decoded->HTTPResponse()->statusCode(), 403);
  EXPECT_EQ(decoded->HTTPResponse()->URL(), response->URL());
  EXPECT_EQ(decoded->data(), (Bytes{'{', '}'}));
  EXPECT_EQ(decoded->localizedFailureReason(), error->localizedFailureReason());
}
