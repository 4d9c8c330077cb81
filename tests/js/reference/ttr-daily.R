# Reference values for tests/js/indicator_reference.test.js, computed with R's TTR package from
# the real daily bars it ships (data set `ttrc`, the last 400 bars). Run from the repository root:
#   Rscript tests/js/reference/ttr-daily.R > tests/js/reference/ttr-daily.json
suppressPackageStartupMessages(library(TTR))
data(ttrc)
bars <- tail(ttrc, 400)
hlc <- as.matrix(bars[, c("High", "Low", "Close")])
hl <- as.matrix(bars[, c("High", "Low")])
cl <- bars$Close
vo <- bars$Volume

# Anchored VWAP over calendar months: on the last bar of each month, TTR's rolling VWAP over
# exactly that month's bars (NA on the other bars).
month <- format(as.Date(bars$Date), "%Y-%m")
vwapMonth <- rep(NA_real_, nrow(bars))
for (m in unique(month)) {
  idx <- which(month == m)
  last <- max(idx)
  if (min(idx) == 1) next  # the first month may be cut short by the slice
  vwapMonth[last] <- VWAP(cl, vo, n = length(idx))[last]
}

st <- stoch(hlc, nFastK = 14, nFastD = 3, nSlowD = 3)
stc <- stoch(cl, nFastK = 14, nFastD = 3, nSlowD = 3)
adx <- ADX(hlc, n = 14)
macd <- MACD(cl, nFast = 12, nSlow = 26, nSig = 9, maType = "EMA", percent = FALSE)
kc <- keltnerChannels(hlc, n = 10, atr = 2)
dc <- DonchianChannel(hl, n = 9)

out <- list(
  date = as.character(bars$Date),
  open = bars$Open, high = bars$High, low = bars$Low, close = cl, volume = vo,
  stoch_fastK = st[, "fastK"], stoch_fastD = st[, "fastD"], stoch_slowD = st[, "slowD"],
  stoch_close_fastK = stc[, "fastK"],
  adx_dip = adx[, "DIp"], adx_din = adx[, "DIn"], adx_adx = adx[, "ADX"],
  obv = as.numeric(OBV(cl, vo)),
  cmo = as.numeric(CMO(cl, n = 9)),
  alma = as.numeric(ALMA(cl, n = 9, offset = 0.85, sigma = 6)),
  vwap_month = vwapMonth,
  macd = macd[, "macd"], macd_signal = macd[, "signal"],
  keltner_dn = kc[, "dn"], keltner_mavg = kc[, "mavg"], keltner_up = kc[, "up"],
  donchian9_mid = dc[, "mid"],
  median14 = as.numeric(runMedian(cl, n = 14)),
  percentrank15 = as.numeric(runPercentRank(cl, n = 15, exact.multiplier = 1))
)

# 15 significant digits: far beyond the 1e-9 the test asks for, and a smaller file.
num <- function(x) ifelse(is.na(x), "null", sprintf("%.15g", x))
field <- function(name, x) {
  body <- if (is.character(x)) paste0('"', x, '"', collapse = ",") else paste(num(x), collapse = ",")
  paste0('  "', name, '": [', body, "]")
}
cat("{\n", paste(mapply(field, names(out), out), collapse = ",\n"), "\n}\n", sep = "")
